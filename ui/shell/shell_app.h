// The program: Qt application, platform seams, settings, main window and
// the files named on the command line; returns the exit code.
#pragma once

int run_tamsel(int argc, char** argv);
