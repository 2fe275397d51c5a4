#ifndef VANTREL_LINK_HOST_LOOKUP_HPP
#define VANTREL_LINK_HOST_LOOKUP_HPP

/// Looks `host` up as an IPv4 address (a dotted address stands for itself)
/// and writes the first one found in dotted form. On failure writes the
/// resolver's reason to `why` instead. It blocks for as long as the
/// resolver takes.
bool lookUpIPv4(const char* host, char (&dotted)[16], char (&why)[128]);

#endif
