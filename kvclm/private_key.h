// Private key handles.
#pragma once

#include "kvclm/internal.h"

namespace kvclm {

inline kvclm_private_key* CheckedPrivate(KVCLM_PRIVATE_KEY h) {
    return (h != nullptr && h->magic == kPrivateMagic) ? h : nullptr;
}

// Wraps a key object (RSA or DSA) into a new handle.
int NewPrivateHandle(PkeyPtr key, KVCLM_PRIVATE_KEY* out);

}  // namespace kvclm
