// A yes/no question to the person at the machine, answered by whatever can: a desktop dialog when a
// display and a dialog program exist, the terminal when standard input is one, otherwise "no".
#pragma once

enum { QUESTION_NO = 0, QUESTION_YES = 1 };

int question_ask_yes_no(const char* text, const char* caption);
