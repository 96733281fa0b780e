// vantor-cli write-disk --disk PATH --rawprogram XML --patch XML [--search "DIR;DIR"]
#pragma once

int RunWriteDiskCommand(int argc, char** argv);
