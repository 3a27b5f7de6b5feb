#pragma once

namespace tavrine {

enum class CameraError { permissionDenied, noCameraAvailable, configurationFailed, interrupted };

const char* toString(CameraError error);

} // namespace tavrine
