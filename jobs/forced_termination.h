// Set when a job's worker had to be abandoned because it did not stop in
// time; at exit the shell then ends the outside server processes and its
// own process tree.
#pragma once

void SetForcedTermination();
bool ForcedTermination();
