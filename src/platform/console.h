#pragma once
// Console polling: the merge looks at pending key presses now and then without waiting,
// so that a key (Ctrl+C included) never stops it and nothing piles up in the terminal.

// Looks at pending console input without waiting and swallows at most one key press (one
// byte). On its first use with a terminal on standard input it puts the terminal's input
// into raw mode (no line editing, no echo, no signal keys, so Ctrl+C arrives as a key)
// and arranges for RestoreConsole to run when the program ends, whichever way it exits.
// Does nothing at all when standard input is not a terminal, or when the program runs as
// a background job of that terminal (touching it would stop the job).
void PollConsole();

// Puts the terminal back into the mode PollConsole found it in. Nothing when no mode was
// changed; safe to call more than once. A later PollConsole enters raw mode again.
void RestoreConsole();
