#pragma once

#include <QPalette>

namespace tavrine {

// The application's light and dark palettes, installed as the desktop's preference asks (the composition
// root tells it, from the desktop's settings). A change restyles the windows already open. Without a
// preference the palette the platform gave stays.
class ColorScheme {
  public:
    enum class Preference { none, dark, light };

    ColorScheme();

    Preference preference() const { return preference_; }
    // Installs the palette for a preference (none: the platform's palette as it was at start).
    void apply(Preference preference);

    // The application's palettes for the two schemes.
    static QPalette darkPalette();
    static QPalette lightPalette();

  private:
    QPalette platform_;
    Preference preference_ = Preference::none;
};

} // namespace tavrine
