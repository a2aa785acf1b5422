#pragma once
// Console polling: the merge looks at pending key presses now and then without waiting,
// so that a stray key never stops it and nothing piles up in the terminal. Ctrl+C still
// stops the merge, through the ending-signal handler.

// Looks at pending console input without waiting and swallows at most one key press (one
// byte). On its first use with a terminal on standard input it puts the terminal's input
// into raw mode (no line editing, no echo; Ctrl+C still interrupts, while the quit and
// suspend keys arrive as plain keys) and arranges for the terminal to be restored however
// the program ends: an exit, or an ending signal (the handlers of platform/signals.h are
// installed then if they were not).
// Does nothing at all when standard input is not a terminal, or when the program runs as
// a background job of that terminal (touching it would stop the job).
void PollConsole();

// Puts the terminal back into the mode PollConsole found it in. Nothing when no mode was
// changed; safe to call more than once. A later PollConsole enters raw mode again.
void RestoreConsole();

// The same from a signal handler: only async-signal-safe calls, and nothing remembered.
void RestoreConsoleFromSignal();
