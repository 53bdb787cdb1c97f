// korvane-utility: the desktop program.

#include "startup/application.hpp"

int main(int argc, char** argv) {
    return korvane::ui::Application().run(argc, argv);
}
