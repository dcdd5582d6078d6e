// encrypt: ECMA-376 Agile Encryption (MS-OFFCRYPTO 2.3.4.10 to 2.3.4.15) of a finished package with
// a password, stored in a compound file with the EncryptionInfo and EncryptedPackage streams.
#pragma once

#include <string>
#include <string_view>

#include "error.h"

namespace tessary {

// The compound-file bytes of the encrypted package, or an Encryption error.
Result<std::string> encrypt(std::string_view package, std::string_view password);

}  // namespace tessary
