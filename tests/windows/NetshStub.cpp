// Test stand-in for netsh.exe, installed into a Wine prefix's system32 by the installer checks:
// Wine's own netsh accepts every command and does nothing. This one keeps the rules that
// "advfirewall firewall add rule" adds and "advfirewall firewall delete rule" removes, one line
// each in netsh-rules.txt next to itself, and records every call in netsh-calls.txt. With a file
// netsh-fails.txt next to it, adding a rule fails as a refused netsh would (exit 1).
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::wstring besideMe(const wchar_t* name) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring directory(path, length);
    return directory.substr(0, directory.find_last_of(L'\\') + 1) + name;
}

// Plain ASCII files: the check reads them on the Unix side.
std::vector<std::string> readLines(const std::wstring& file) {
    std::vector<std::string> lines;
    std::ifstream in(file.c_str());
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

void writeLines(const std::wstring& file, const std::vector<std::string>& lines) {
    std::ofstream out(file.c_str(), std::ios::trunc);
    for (const std::string& line : lines) {
        out << line << '\n';
    }
}

std::string narrow(const std::wstring& text) {
    std::string out;
    for (const wchar_t c : text) {
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return out;
}

std::string lower(std::string text) {
    for (char& c : text) {
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return text;
}

// "key=value" in any case of the key and of the value (netsh compares both that way).
std::string valueOf(const std::string& rule, const std::string& key) {
    const std::string wanted = lower(key) + "=";
    std::size_t start = 0;
    while (start <= rule.size()) {
        std::size_t end = rule.find(" | ", start);
        if (end == std::string::npos) {
            end = rule.size();
        }
        const std::string field = rule.substr(start, end - start);
        if (lower(field.substr(0, wanted.size())) == wanted) {
            return lower(field.substr(wanted.size()));
        }
        start = end + 3;
    }
    return "\x01";  // absent: matches no filter
}

}  // namespace

int wmain() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(narrow(argv[i]));
    }
    std::string joined;
    for (const std::string& arg : args) {
        joined += (joined.empty() ? "" : " | ") + arg;
    }
    {
        std::ofstream calls(besideMe(L"netsh-calls.txt").c_str(), std::ios::app);
        calls << joined << '\n';
    }

    const bool ruleCommand = args.size() >= 4 && lower(args[0]) == "advfirewall" &&
                             lower(args[1]) == "firewall" && lower(args[3]) == "rule";
    if (!ruleCommand || (lower(args[2]) != "add" && lower(args[2]) != "delete")) {
        std::printf("The following command was not found: %s\n", joined.c_str());
        return 1;
    }
    std::string rule;
    for (std::size_t i = 4; i < args.size(); ++i) {
        rule += (rule.empty() ? "" : " | ") + args[i];
    }
    const std::wstring rulesFile = besideMe(L"netsh-rules.txt");
    std::vector<std::string> rules = readLines(rulesFile);

    if (lower(args[2]) == "add") {
        if (GetFileAttributesW(besideMe(L"netsh-fails.txt").c_str()) != INVALID_FILE_ATTRIBUTES) {
            std::printf("An error occurred while adding the rule.\n");
            return 1;
        }
        rules.push_back(rule);
        writeLines(rulesFile, rules);
        std::printf("Ok.\n");
        return 0;
    }

    // delete: every filter given must match a rule for the rule to go.
    std::vector<std::string> kept;
    int deleted = 0;
    for (const std::string& existing : rules) {
        bool matches = true;
        for (std::size_t i = 4; i < args.size(); ++i) {
            const std::size_t equals = args[i].find('=');
            const std::string key = args[i].substr(0, equals);
            const std::string value =
                equals == std::string::npos ? "" : lower(args[i].substr(equals + 1));
            matches = matches && valueOf(existing, key) == value;
        }
        if (matches) {
            ++deleted;
        } else {
            kept.push_back(existing);
        }
    }
    if (deleted == 0) {
        std::printf("No rules match the specified criteria.\n");
        return 1;
    }
    writeLines(rulesFile, kept);
    std::printf("Deleted %d rule(s).\nOk.\n", deleted);
    return 0;
}
