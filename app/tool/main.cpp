// The bayercam command-line tool.
#include "app/tool/cli.h"

int main(int argc, char** argv) { return bayercam::app::runTool(argc, argv); }
