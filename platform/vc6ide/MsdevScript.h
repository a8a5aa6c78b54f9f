#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "MsdevAddIns.h"
#include "MsdevApplication.h"
#include "MsdevDebugger.h"
#include "MsdevDialogAnswerer.h"
#include "MsdevOutput.h"

// Drives the stand-in IDE from script lines, one command per line, as a user
// would: enable add-ins, connect them, run a command while answering the
// dialogs it shows, debug a program, disconnect. Words are separated by
// blanks; a word in double quotes may hold blanks and the escapes \n, \r, \t,
// \" and \\ (unquoted words take backslashes as they are). Empty lines and
// lines that begin with '#' are skipped. After each line the GUI thread's
// pending messages are dispatched, as the IDE's message loop would.
//
//   enable PROGID | disable PROGID     the IDE's add-in list (registry)
//   connect [firsttime]                create and connect the enabled add-ins
//   disconnect [lasttime]              disconnect and release them
//   answer CAPTION ACTION...           queue one dialog step for the next run:
//       set ID TEXT | check ID 0|1 | radio ID | click ID | key F1 | close | read ID |
//       picture FILE (the dialog as drawn, a 24-bit BMP)
//   run COMMAND                        run a command by name, answering the queued steps
//   debug COMMAND LINE                 debug a program to its end (the rest of the
//                                      line is its command line)
//   fail METHOD HRESULT|refuse|off     make an IApplication method fail
//   env NAME [VALUE]                   set (or, without a value, remove) a variable
//   echo TEXT                          record a marker line
//   idle MS                            go on dispatching messages for MS milliseconds
class CMsdevScript
{
public:
    CMsdevScript(CMsdevApplication& application, CMsdevAddIns& addIns, CMsdevDebugger& debugger, CMsdevOutput& output);

    // How long each dialog step waits for its dialog.
    void SetDialogTimeout(DWORD milliseconds) { m_dialogTimeoutMs = milliseconds; }

    // Runs every line; a failing line is recorded and the next one runs.
    // True when every line succeeded.
    bool Run(const std::vector<std::string>& lines);
    bool RunLine(const std::string& line);

    // Splits a line into words (see above); false on an unterminated quote.
    static bool Split(const std::string& line, std::vector<std::string>& words);
    // The line's form of a text: quoted, with the escapes above.
    static std::string Quote(const std::string& text);

private:
    bool Answer(const std::vector<std::string>& words);
    bool RunCommand(const std::string& name);
    bool Fail(const std::vector<std::string>& words);
    void PumpMessages();

    CMsdevApplication& m_application;
    CMsdevAddIns& m_addIns;
    CMsdevDebugger& m_debugger;
    CMsdevOutput& m_output;
    DWORD m_dialogTimeoutMs = 10000;
    std::vector<CMsdevDialogAnswerer::Step> m_pendingSteps;
};
