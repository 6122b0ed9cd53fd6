// tamsel: the editor's desktop program.
#include "ui/shell/shell_app.h"

int main(int argc, char** argv) { return run_tamsel(argc, argv); }
