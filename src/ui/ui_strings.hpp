#pragma once

// Texts the desktop program shows, in one place.

namespace korvane::ui::strings {

inline constexpr char kAppTitle[] = "Korvane Utility";
// Where the user's settings are kept (with the application's name).
inline constexpr char kOrganisation[] = "Korvane";
inline constexpr char kClosing[] = "Korvane Utility is closing, please wait...";
inline constexpr char kDeviceInformation[] = "Device Information:";

inline constexpr char kAboutCaption[] = "About Korvane Utility";
inline constexpr char kAboutVersion[] = "Korvane Utility 4.55";
inline constexpr char kAboutNotice[] =
    "Copyright \u00A9 2024 Korvane Networks. All rights reserved.";
inline constexpr char kMakerLinkText[] = "Korvane Networks on the web";
// The maker's web address as the build configured it (KORVANE_MAKER_URL);
// empty: the About box shows no link.
inline constexpr char kMakerAddress[] = KORVANE_MAKER_URL;

} // namespace korvane::ui::strings
