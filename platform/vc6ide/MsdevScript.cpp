#include "MsdevScript.h"

#include <cstdlib>

namespace
{

bool ParseInt(const std::string& word, long& value)
{
    if (word.empty())
        return false;
    char* end = nullptr;
    value = strtol(word.c_str(), &end, 0);
    return *end == '\0';
}

} // namespace

CMsdevScript::CMsdevScript(CMsdevApplication& application, CMsdevAddIns& addIns, CMsdevDebugger& debugger,
                           CMsdevOutput& output)
    : m_application(application), m_addIns(addIns), m_debugger(debugger), m_output(output)
{
}

bool CMsdevScript::Split(const std::string& line, std::vector<std::string>& words)
{
    words.clear();
    size_t i = 0;
    while (i < line.size())
    {
        if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r' || line[i] == '\n')
        {
            ++i;
            continue;
        }
        std::string word;
        if (line[i] != '"')
        {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '\n')
                word += line[i++];
            words.push_back(word);
            continue;
        }
        ++i;
        bool closed = false;
        while (i < line.size())
        {
            const char c = line[i++];
            if (c == '"')
            {
                closed = true;
                break;
            }
            if (c != '\\' || i == line.size())
            {
                word += c;
                continue;
            }
            const char escaped = line[i++];
            switch (escaped)
            {
            case 'n':
                word += '\n';
                break;
            case 'r':
                word += '\r';
                break;
            case 't':
                word += '\t';
                break;
            case '"':
                word += '"';
                break;
            case '\\':
                word += '\\';
                break;
            default:
                word += '\\';
                word += escaped;
                break;
            }
        }
        if (!closed)
            return false;
        words.push_back(word);
    }
    return true;
}

std::string CMsdevScript::Quote(const std::string& text)
{
    std::string quoted = "\"";
    for (char c : text)
    {
        switch (c)
        {
        case '\n':
            quoted += "\\n";
            break;
        case '\r':
            quoted += "\\r";
            break;
        case '\t':
            quoted += "\\t";
            break;
        case '"':
            quoted += "\\\"";
            break;
        case '\\':
            quoted += "\\\\";
            break;
        default:
            quoted += c;
            break;
        }
    }
    return quoted + "\"";
}

bool CMsdevScript::Run(const std::vector<std::string>& lines)
{
    bool succeeded = true;
    for (size_t i = 0; i < lines.size(); ++i)
    {
        if (!RunLine(lines[i]))
        {
            m_output.Record("script line " + std::to_string(i + 1) + " failed: " + MsdevEscape(lines[i]));
            succeeded = false;
        }
    }
    if (!m_pendingSteps.empty())
    {
        m_output.Record("dialog steps queued but no command run");
        succeeded = false;
    }
    return succeeded;
}

bool CMsdevScript::RunLine(const std::string& line)
{
    std::vector<std::string> words;
    if (!Split(line, words))
        return false;
    if (words.empty() || words[0][0] == '#')
        return true;
    const std::string& verb = words[0];
    bool succeeded = false;
    if ((verb == "enable" || verb == "disable") && words.size() == 2)
    {
        succeeded = CMsdevAddIns::Enable(words[1], verb == "enable");
        m_output.Record("add-in " + words[1] + (verb == "enable" ? " enabled" : " disabled"));
    }
    else if (verb == "connect" && words.size() <= 2)
    {
        if (words.size() == 2 && words[1] != "firsttime")
            return false;
        m_addIns.ConnectAll(words.size() == 2);
        succeeded = true;
    }
    else if (verb == "disconnect" && words.size() <= 2)
    {
        if (words.size() == 2 && words[1] != "lasttime")
            return false;
        m_addIns.DisconnectAll(words.size() == 2);
        succeeded = true;
    }
    else if (verb == "answer")
        succeeded = Answer(words);
    else if (verb == "run" && words.size() == 2)
        succeeded = RunCommand(words[1]);
    else if (verb == "debug" && words.size() >= 2)
    {
        const size_t start = line.find_first_not_of(" \t", line.find("debug") + 5);
        size_t end = line.find_last_not_of(" \t\r\n");
        succeeded = m_debugger.Debug(line.substr(start, end + 1 - start));
    }
    else if (verb == "fail")
        succeeded = Fail(words);
    else if (verb == "env" && (words.size() == 2 || words.size() == 3))
    {
        // Removing a variable that is not set is no failure.
        succeeded = SetEnvironmentVariableA(words[1].c_str(), words.size() == 3 ? words[2].c_str() : nullptr) ||
                    words.size() == 2;
    }
    else if (verb == "echo")
    {
        std::string text;
        for (size_t i = 1; i < words.size(); ++i)
            text += (i > 1 ? " " : "") + words[i];
        m_output.Record(text);
        succeeded = true;
    }
    else if (verb == "pump" && words.size() == 1)
        succeeded = true;
    else if (verb == "idle" && words.size() == 2)
    {
        long milliseconds = 0;
        succeeded = ParseInt(words[1], milliseconds) && milliseconds >= 0;
        const DWORD start = GetTickCount();
        while (succeeded && GetTickCount() - start < static_cast<DWORD>(milliseconds))
        {
            PumpMessages();
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
    }
    PumpMessages();
    m_output.Flush();
    return succeeded;
}

bool CMsdevScript::Answer(const std::vector<std::string>& words)
{
    if (words.size() < 3)
        return false;
    CMsdevDialogAnswerer::Step step;
    step.Caption = words[1];
    size_t i = 2;
    while (i < words.size())
    {
        const std::string& name = words[i++];
        CMsdevDialogAnswerer::Action action;
        long id = 0;
        if (name == "close")
            action.What = CMsdevDialogAnswerer::Action::Close;
        else if (name == "picture" && i < words.size())
        {
            action.What = CMsdevDialogAnswerer::Action::Picture;
            action.Text = words[i++];
        }
        else if (name == "key" && i < words.size())
        {
            action.What = CMsdevDialogAnswerer::Action::KeyDown;
            long key = 0;
            if (words[i] == "F1")
                action.Value = VK_F1;
            else if (ParseInt(words[i], key))
                action.Value = static_cast<int>(key);
            else
                return false;
            ++i;
        }
        else if (i < words.size() && ParseInt(words[i], id))
        {
            ++i;
            action.Id = static_cast<int>(id);
            if (name == "radio")
                action.What = CMsdevDialogAnswerer::Action::Radio;
            else if (name == "click")
                action.What = CMsdevDialogAnswerer::Action::Click;
            else if (name == "read")
                action.What = CMsdevDialogAnswerer::Action::Read;
            else if (name == "set" && i < words.size())
            {
                action.What = CMsdevDialogAnswerer::Action::SetText;
                action.Text = words[i++];
            }
            else if (name == "check" && i < words.size() && (words[i] == "0" || words[i] == "1"))
            {
                action.What = CMsdevDialogAnswerer::Action::Check;
                action.Value = words[i++] == "1";
            }
            else
                return false;
        }
        else
            return false;
        step.Actions.push_back(action);
    }
    m_pendingSteps.push_back(step);
    return true;
}

bool CMsdevScript::RunCommand(const std::string& name)
{
    CMsdevDialogAnswerer answerer(m_output, m_dialogTimeoutMs);
    if (!answerer.Start(m_pendingSteps))
        return false;
    m_pendingSteps.clear();
    const bool ran = m_addIns.RunCommand(name);
    const bool answered = answerer.Finish();
    return ran && answered;
}

bool CMsdevScript::Fail(const std::vector<std::string>& words)
{
    if (words.size() != 3)
        return false;
    if (words[2] == "off")
        m_application.SetFailure(words[1], S_OK);
    else if (words[2] == "refuse")
        m_application.SetFailure(words[1], S_OK, true);
    else
    {
        // Failure codes (0x80000000 and above) do not fit a long: read them unsigned.
        char* end = nullptr;
        const unsigned long result = strtoul(words[2].c_str(), &end, 0);
        if (words[2].empty() || *end != '\0')
            return false;
        m_application.SetFailure(words[1], static_cast<HRESULT>(result));
    }
    return true;
}

void CMsdevScript::PumpMessages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
    {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}
