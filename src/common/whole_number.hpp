#ifndef VANTREL_COMMON_WHOLE_NUMBER_HPP
#define VANTREL_COMMON_WHOLE_NUMBER_HPP

/// Reads a whole number in lo..hi (lo >= 0) written with decimal digits
/// only: no sign, no blanks, nothing after. Returns false, leaving `value`
/// alone, for anything else.
bool parseWholeNumber(const char* text, int lo, int hi, int& value);

#endif
