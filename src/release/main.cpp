// vorn-release: writes the release list "KEL.release" that a build with the
// publisher's key takes, for the publisher to sign with `minisign -Sm`.
#include "platform/CFolder.h"
#include "worker/CReleaseList.h"
#ifdef _WIN32
#include "platform/WideText.h"
#endif

#include <sodium.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char* const kUsage = "usage: vorn-release --application KEL_V12.zip [--update KELUPD01_24.zip]\n"
                           "                    [--serial N] [--valid DAYS] -o KEL.release\n"
                           "Writes the release list naming the application archive and, when given,\n"
                           "the update archive: sizes, central directories and the BLAKE2b-256 of each\n"
                           "piece. Then sign it: minisign -Sm KEL.release\n"
                           "  --serial N     a number above the serial of the list it replaces\n"
                           "                 (default: the UTC time as YYYYMMDDHHMMSS)\n"
                           "  --valid DAYS   how long customers take it (default 90); sign a new list\n"
                           "                 before then\n"
                           "  -o FILE        the list to write (and to replace)\n";

struct Arguments {
    std::string application;
    std::string update;
    std::optional<std::uint64_t> serial;
    std::int64_t validDays = 90;
    std::string output;
};

// A failure of the arguments: said, with the usage, and exit status 2.
struct BadArguments {
    std::string why;
};

std::uint64_t Digits(const std::string& text, const char* what)
{
    if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos)
        throw BadArguments{std::string(what) + " must be a whole number, not '" + text + "'"};
    return std::stoull(text);
}

Arguments Parse(const std::vector<std::string>& argv)
{
    Arguments a;
    const std::size_t argc = argv.size();
    for (std::size_t i = 1; i < argc; ++i) {
        const std::string& option = argv[i];
        if (option == "-h" || option == "--help") {
            std::cout << kUsage;
            std::exit(0);   // NOLINT(concurrency-mt-unsafe): one thread
        }
        if (i + 1 >= argc)
            throw BadArguments{option.starts_with("-") ? option + " needs a value" : "unknown argument " + option};
        const std::string& value = argv[++i];
        if (option == "--application")
            a.application = value;
        else if (option == "--update")
            a.update = value;
        else if (option == "--serial")
            a.serial = Digits(value, "--serial");
        else if (option == "--valid")
            a.validDays = static_cast<std::int64_t>(Digits(value, "--valid"));
        else if (option == "-o")
            a.output = value;
        else
            throw BadArguments{"unknown option " + option};
    }
    if (a.application.empty())
        throw BadArguments{"--application names no archive"};
    if (a.output.empty())
        throw BadArguments{"-o names no file to write"};
    if (a.serial && *a.serial == 0)
        throw BadArguments{"--serial must be above 0"};
    // A list valid for no time would be refused by every customer at once.
    if (a.validDays < 1 || a.validDays > 36500)
        throw BadArguments{"--valid must be from 1 to 36500 days"};
    return a;
}

std::string Utf8(const fs::path& path)
{
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

// The archive at `path`, described as the list names it.
ReleaseArchive Describe(const std::string& path, const char* option)
{
    const fs::path full = fs::absolute(fs::u8path(path)).lexically_normal();
    const CFolder folder = CFolder::OpenPath(Utf8(full.parent_path()), /*create=*/false);
    const CFile file = folder ? folder.OpenFile(Utf8(full.filename()), FileOpen::Read) : CFile();
    if (!file)
        throw BadArguments{std::string(option) + " " + path + ": no such file"};
    std::string why;
    std::optional<ReleaseArchive> archive = ReleaseArchive::Describe(file, Utf8(full.filename()), why);
    if (!archive)
        throw BadArguments{std::string(option) + " " + path + ": " + why};
    return std::move(*archive);
}

// The serial of the list `path` replaces; nothing when there is none.
std::optional<std::uint64_t> ReplacedSerial(const std::string& path)
{
    std::ifstream in(fs::u8path(path), std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    const std::optional<CReleaseList> list = CReleaseList::Parse(text.str());
    if (!list)
        throw BadArguments{path + " is there and is no release list: remove it or write another file"};
    return list->serial;
}

std::uint64_t UtcDigits(std::int64_t seconds)
{
    const std::string t = UtcTimeText(seconds);   // 2026-12-10T11:11:00Z
    std::string digits;
    for (const char c : t)
        if (c >= '0' && c <= '9')
            digits += c;
    return std::stoull(digits);
}

// The arguments in UTF-8, as the rest of the engine names files.
int Main(const std::vector<std::string>& argv)
{
    if (sodium_init() < 0) {
        std::cerr << "vorn-release: libsodium cannot start\n";
        return 1;
    }
    CReleaseList list;
    std::string output;
    try {
        const Arguments a = Parse(argv);
        output = a.output;
        const std::int64_t now =
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
                .count();
        list.serial = a.serial.value_or(UtcDigits(now));
        list.expires = now + a.validDays * 86400;
        // Whatever the serial, never one that is not above the list replaced:
        // customers who took that one would refuse this one.
        if (const std::optional<std::uint64_t> replaced = ReplacedSerial(a.output);
            replaced && list.serial <= *replaced)
            throw BadArguments{"serial " + std::to_string(list.serial) + " is not above " + std::to_string(*replaced) +
                               ", the serial of " + a.output + "; give --serial " + std::to_string(*replaced + 1) +
                               " or more"};
        list.application = Describe(a.application, "--application");
        if (!a.update.empty()) {
            list.update = Describe(a.update, "--update");
            if (list.update->name == list.application.name)
                throw BadArguments{"--update names the application archive"};
        }
    } catch (const BadArguments& e) {
        std::cerr << "vorn-release: " << e.why << "\n(vorn-release --help shows the usage)\n";
        return 2;
    }

    const std::string text = list.Text();
    if (text.size() > CReleaseList::kMaxFileSize) {
        std::cerr << "vorn-release: the list would be larger than " << CReleaseList::kMaxFileSize
                  << " bytes, which customers refuse\n";
        return 2;
    }
    // Written whole beside the output, then put in its place.
    const fs::path target = fs::u8path(output);
    fs::path temporary = target;
    temporary += ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.close();
        std::error_code error;
        if (!out || (fs::rename(temporary, target, error), error)) {
            fs::remove(temporary, error);
            std::cerr << "vorn-release: cannot write " << output << "\n";
            return 1;
        }
    }
    std::cout << output << ": serial " << list.serial << ", valid until " << UtcTimeText(list.expires) << "\n";
    for (const ReleaseArchive* a : {&list.application, list.update ? &*list.update : nullptr})
        if (a)
            std::cout << "  " << a->name << ": " << a->size << " bytes, " << a->pieces.size() << " pieces of "
                      << (a->pieceSize >> 20) << " MiB\n";
    std::cout << "Now sign it: minisign -Sm " << output << "\n";
    return 0;
}

}   // namespace

#ifdef _WIN32
// The wide command line: a name outside the ANSI code page would come as "?"
// through main's narrow one.
int wmain(int argc, wchar_t** argv)
{
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i)
        arguments.push_back(Utf8FromWide(argv[i]));
    return Main(arguments);
}
#else
int main(int argc, char** argv)
{
    return Main(std::vector<std::string>(argv, argv + argc));
}
#endif
