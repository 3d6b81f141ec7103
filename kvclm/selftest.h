// Known-answer self-tests: SHA-1, MD5 and SHA-256 of "abc", an RSA signature with a fixed key
// compared byte for byte, a DSA signature check with a fixed key, and the first Ed25519 test
// vector of RFC 8032.
#pragma once

namespace kvclm {

enum class SelfTestCorruption { None = 0, Sha1, Md5, Sha256, Rsa, Dsa, Ed25519 };

// True when every test passes. A corruption flips a bit of that known answer first.
bool RunSelfTests(SelfTestCorruption corrupt);

}  // namespace kvclm
