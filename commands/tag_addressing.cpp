#include "commands/tag_addressing.h"

namespace mv::cmd {

void storeErrorCode(const Response& r, int* errorCode) {
    if (r.status() == MORVENT_OK) *errorCode = -1;
    else if (r.status() == kTagErrorStatus && r.hasData(1)) *errorCode = r.data()[0];
}

}  // namespace mv::cmd
