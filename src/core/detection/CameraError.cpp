#include "core/detection/CameraError.h"

namespace tavrine {

const char* toString(CameraError error) {
    switch (error) {
    case CameraError::permissionDenied:
        return "permissionDenied";
    case CameraError::noCameraAvailable:
        return "noCameraAvailable";
    case CameraError::configurationFailed:
        return "configurationFailed";
    case CameraError::interrupted:
        return "interrupted";
    }
    return "?";
}

} // namespace tavrine
