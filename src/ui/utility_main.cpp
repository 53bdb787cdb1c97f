// korvane-utility: the desktop program.

#include "app/application.hpp"

int main(int argc, char** argv) {
    return korvane::ui::Application().run(argc, argv);
}
