#pragma once
// Dialects declared by the user as lists of token names, one template per line.

#include "parse/parse_logs.h"

// Compiles `text` (the user_format setting) into at most four templates in
// state.user_tokens / state.user_format_start. Prints "Too many user log formats!" or
// "User log formats exceeded available token count!" when the text does not fit. A
// template with TAB-SEP anywhere but first is rejected here with a message, so the
// parser never meets an invalid user template.
void LoadUserFormats(ParseState& state, const char* text);
