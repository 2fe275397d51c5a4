#ifndef VANTREL_SERVICE_SECRET_FILE_HPP
#define VANTREL_SERVICE_SECRET_FILE_HPP

#include <string>

/// Reads a password from the file at `path` (a password_file): its first
/// line, without the line end. Returns false with `problem`, one line
/// naming the file, when it cannot be read or holds no password. When
/// everyone may read the file, `warning` says so (else it is left empty).
/// Neither line ever holds the password.
bool readSecretFile(const std::string& path, std::string& secret, std::string& problem,
                    std::string& warning);

#endif
