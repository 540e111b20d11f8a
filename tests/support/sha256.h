// SHA-256 of a text, as 64 lower-case hexadecimal digits: the digests the
// output-pinning test keeps instead of whole reference files.
#pragma once

#include <string>

namespace varnel::testing {

std::string Sha256Hex(const std::string& data);

}  // namespace varnel::testing
