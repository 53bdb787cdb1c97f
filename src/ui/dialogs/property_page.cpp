#include "dialogs/property_page.hpp"

namespace korvane::ui {

CPropertyPage::~CPropertyPage() = default;

} // namespace korvane::ui
