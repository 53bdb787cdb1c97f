// korvane-utility: the desktop program.

#include "app/dravelin_app.hpp"

int main(int argc, char** argv) {
    return korvane::ui::CDravelinApp().InitInstance(argc, argv);
}
