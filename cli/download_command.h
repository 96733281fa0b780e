// vantor-cli download --port PORT --programmer HEX --boot IMAGE
#pragma once

int RunDownloadCommand(int argc, char** argv);
