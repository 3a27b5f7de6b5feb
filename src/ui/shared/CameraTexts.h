#pragma once

namespace tavrine::texts {

// Why the camera stays shut when this user may not open it, and what to do: on Linux no dialog asks for
// the camera; the right comes with the "video" group (or the desktop's seat rules).
inline constexpr const char* cameraAccessRefused =
    "Tavrine n’a pas le droit d’ouvrir la caméra\u00a0: ajoutez votre compte au groupe "
    "«\u00a0video\u00a0», puis rouvrez votre session.";

} // namespace tavrine::texts
