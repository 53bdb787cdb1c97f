#pragma once

// Texts the desktop program shows, in one place.

namespace korvane::ui::strings {

inline constexpr char kAppTitle[] = "Korvane Utility";
inline constexpr char kClosing[] = "Korvane Utility is closing, please wait...";
inline constexpr char kDeviceInformation[] = "Device Information:";

inline constexpr char kAboutCaption[] = "About Korvane Utility";
inline constexpr char kAboutVersion[] = "Korvane Utility 4.55";
inline constexpr char kAboutNotice[] =
    "Copyright \u00A9 2024 Korvane Networks. All rights reserved.";
inline constexpr char kMakerLinkText[] = "Korvane Networks on the web";
inline constexpr char kMakerAddress[] = "https://www.example.com/korvane";

} // namespace korvane::ui::strings
