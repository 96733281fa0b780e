// The signals a run answers: SIGINT, SIGTERM and SIGHUP end the run as
// Ctrl-C does (the polling loop releases the jobs and the program exits with
// 128 plus the signal's number); SIGWINCH asks for the table to be redrawn.
// The handlers only record the signal and wake the loop.
#pragma once

// Installs the handlers; safe to call more than once.
void InstallRunSignals();
// The first termination signal received, or 0.
int PendingStopSignal();
// Sleeps up to ms milliseconds; returns early when a signal arrives.
void WaitForSignal(int ms);
