// The calls that only curve keys have: signing as SSH does, and generation.
#include "kvclm/curve_keys.h"
#include "kvclm/private_key.h"

using namespace kvclm;

extern "C" int kvclm_PrivateKeySignSsh(KVCLM_PRIVATE_KEY key, int flags, const unsigned char* data,
                                       uint32_t dataLength, unsigned char* out, uint32_t* outLength,
                                       int reserved) {
    return Guarded(reserved, true, [&] {
        kvclm_private_key* k = CheckedPrivate(key);
        if (k == nullptr || outLength == nullptr || flags != 0 || !ValidInput(data, dataLength))
            return KVCLM_E_BAD_PARAM;
        const CurveKind* curve = CurveKindByKind(k->kind);
        if (curve == nullptr) return KVCLM_E_WRONG_KEY_TYPE;
        // The room is checked first, so that a size-only call costs no signature.
        int rc = CheckCapacity(CurveSignatureCapacity(*curve), out, outLength);
        if (rc != KVCLM_OK) return rc;
        Bytes signature;
        rc = SignCurve(*curve, k->pkey.get(), data, dataLength, &signature);
        if (rc != KVCLM_OK) return rc;
        return CopyOut(signature.data(), signature.size(), out, outLength);
    });
}

extern "C" int kvclm_CurveKeyGenerate(KVCLM_PRIVATE_KEY* key, int type, uint32_t bits,
                                      int reserved) {
    return Guarded(reserved, true, [&] {
        if (key == nullptr) return KVCLM_E_BAD_PARAM;
        const CurveKind* curve = CurveKindByTypeAndBits(type, bits);
        if (curve == nullptr) return KVCLM_E_UNSUPPORTED;
        PkeyPtr pkey;
        const int rc = GenerateCurve(*curve, &pkey);
        if (rc != KVCLM_OK) return rc;
        return NewPrivateHandle(std::move(pkey), key);
    });
}
