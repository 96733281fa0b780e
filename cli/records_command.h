// vantor-cli records: the flash records of this bench, or of the line of
// benches when a records server is set.
#pragma once

int RunRecordsCommand(int argc, char** argv);
