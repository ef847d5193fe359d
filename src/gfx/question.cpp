#include "gfx/question.h"

#if __EMSCRIPTEN__
#include <emscripten.h>

// The page answers with its start overlay (Fullscreen is yes, Window is no): the click it needs is
// also what lets the page play sound. Module.quilletAnswer is -1 until then.
EM_JS(int, question_web_answer, (), {
    return typeof Module.quilletAnswer == "number" ? Module.quilletAnswer : -1;
});

int question_ask_yes_no(const char* text, const char* caption) {
    EM_ASM({ if (Module.quilletAsk) Module.quilletAsk(UTF8ToString($0), UTF8ToString($1)); }, text, caption);
    int answer;
    while ((answer = question_web_answer()) < 0) emscripten_sleep(20);
    return answer == QUESTION_YES ? QUESTION_YES : QUESTION_NO;
}
#else
#include "gfx/path.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

// Runs a dialog program and waits for it; its exit status 0 means yes. -1 when it could not run.
static int question_run_dialog(char* const argv[]) {
    pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        execv(argv[0], argv);
        _exit(127);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    int code = WEXITSTATUS(status);
    if (code == 127) return -1;
    return code == 0 ? QUESTION_YES : QUESTION_NO;
}

static int question_ask_desktop(const char* text, const char* caption) {
    const char* x11 = getenv("DISPLAY");
    const char* wayland = getenv("WAYLAND_DISPLAY");
    if ((!x11 || !*x11) && (!wayland || !*wayland)) return -1;
    char program[4096];
    if (path_find_program("zenity", program, sizeof program) == 0) {
        char* argv[] = {program, (char*)"--question", (char*)"--title", (char*)caption,
                        (char*)"--text", (char*)text, nullptr};
        return question_run_dialog(argv);
    }
    if (path_find_program("kdialog", program, sizeof program) == 0) {
        char* argv[] = {program, (char*)"--title", (char*)caption, (char*)"--yesno", (char*)text,
                        nullptr};
        return question_run_dialog(argv);
    }
    if (path_find_program("xmessage", program, sizeof program) == 0) {
        // xmessage exits with 100 + the index of the pressed button.
        char* argv[] = {program, (char*)"-center", (char*)"-title", (char*)caption, (char*)"-buttons",
                        (char*)"Yes:0,No:1", (char*)text, nullptr};
        return question_run_dialog(argv);
    }
    return -1;
}

static int question_ask_terminal(const char* text, const char* caption) {
    if (!isatty(0)) return -1;
    // The prompt goes to standard error: standard output carries only the program's diagnostics.
    fprintf(stderr, "%s: %s [y/N] ", caption, text);
    char line[64];
    if (!fgets(line, sizeof line, stdin)) return QUESTION_NO;
    return (line[0] == 'y' || line[0] == 'Y') ? QUESTION_YES : QUESTION_NO;
}

int question_ask_yes_no(const char* text, const char* caption) {
    int answer = question_ask_desktop(text, caption);
    if (answer < 0) answer = question_ask_terminal(text, caption);
    return answer < 0 ? QUESTION_NO : answer;
}
#endif
