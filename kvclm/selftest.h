// Known-answer self-tests: SHA-1, MD5 and SHA-256 of "abc", an RSA signature with a fixed key
// compared byte for byte, and a DSA signature check with a fixed key.
#pragma once

namespace kvclm {

enum class SelfTestCorruption { None = 0, Sha1, Md5, Sha256, Rsa, Dsa };

// True when every test passes. A corruption flips a bit of that known answer first.
bool RunSelfTests(SelfTestCorruption corrupt);

}  // namespace kvclm
