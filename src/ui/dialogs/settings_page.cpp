#include "dialogs/settings_page.hpp"

namespace korvane::ui {

SettingsPage::~SettingsPage() = default;

} // namespace korvane::ui
