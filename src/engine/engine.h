// Run and stop of the live loop, in the two processing modes:
// - graph mode: open input and output, then run the graph through pMC; the
//   reader filter's worker captures, the plug-in processes, the dump plays;
// - direct mode ("DONT USE WINDOWS DX HANDLER" = "TRUE"): an engine thread of
//   our own opens input and output and loops readInput -> processBuffer ->
//   writeOutput until asked to stop.
// One module-wide run state says which; only startProcessing and
// stopProcessing change it, and the host dialog reads it.
#pragma once

#include <windows.h>

enum RunState { RUN_STATE_RUNNING = 1, RUN_STATE_STOPPED = 2, RUN_STATE_FAILED = 3 };
enum EngineState { ENGINE_STARTING = 0, ENGINE_STREAMING = 2, ENGINE_ENDED = 3 };

int runState();

// RUN: 1 when handled (also when it ends failed), 0 when refused or a device failed to open.
int startProcessing(HWND owner);
// STOP: 1 when handled, 0 when refused (failed state).
int stopProcessing();

// Teardown (Exit, end of the hosting period): whatever the run state says,
// ends the engine thread, stops the graph and closes the streams. Stopped afterwards.
void shutdownProcessing();

int startEngineThread(HWND owner);
int stopEngineThread();
int engineState();

// Back to the state at load: stopped, no engine thread. For tests between
// cases; never called while an engine thread may still run.
void resetEngineForTests();
