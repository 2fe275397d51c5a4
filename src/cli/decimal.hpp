#ifndef VANTREL_CLI_DECIMAL_HPP
#define VANTREL_CLI_DECIMAL_HPP

/// Converts the leading decimal number of `text` the same way on every
/// platform: leading blanks, tabs, line feeds, vertical tabs, form feeds and
/// carriage returns are skipped, one optional sign is taken, then digits up
/// to the first non-digit; text without leading digits is 0, and a number
/// beyond the signed 32-bit range is clamped to its nearer end.
int decimalValue(const char* text);

#endif
