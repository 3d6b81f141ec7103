/* A cryptographic module that lacks most of its calls. The few it has answer as a healthy
 * module would, so a loader that accepted it would visibly misreport the module as ready. */
#include <string.h>

#include "kvclm/kvclm.h"

int kvclm_GetModuleStatus(int reserved) {
    (void)reserved;
    return KVCLM_STATUS_READY;
}

int kvclm_GetModuleMode(int reserved) {
    (void)reserved;
    return KVCLM_MODE_NORMAL;
}

int kvclm_HashOfBuffer(int algorithm, const unsigned char* data, uint32_t dataLength,
                       unsigned char* out, int reserved) {
    (void)algorithm;
    (void)data;
    (void)dataLength;
    (void)reserved;
    memset(out, 0xAB, 20);
    return KVCLM_OK;
}
