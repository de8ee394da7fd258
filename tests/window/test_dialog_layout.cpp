// The dialogs' layouts are written once, as the table both windows share:
// the Windows resource script must say the same, control by control (ids,
// kinds, texts, pictures, rectangles and how a static's text sits).
#include "support/TestSupport.h"
#include "window/DialogTemplate.h"

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <map>
#include <sstream>
#include <tuple>

namespace {

// The resource script's names for numbers, as the resource compiler reads them.
std::map<std::string, int> Defines(const std::string& header)
{
    std::map<std::string, int> names;
    std::istringstream in(header);
    std::string hash, name, value;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        if (words >> hash >> name >> value && hash == "#define") {
            std::erase(value, '(');
            std::erase(value, ')');
            names[name] = std::stoi(value, nullptr, 0);
        }
    }
    return names;
}

// The fields of one statement, split at commas outside quotes; a quoted
// field comes back decoded (octal escapes, "\\", doubled quotes).
std::vector<std::string> Fields(const std::string& text)
{
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"' && quoted && i + 1 < text.size() && text[i + 1] == '"') {
            fields.back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == '\\' && quoted && std::isdigit(static_cast<unsigned char>(text[i + 1]))) {
            fields.back() += static_cast<char>(std::stoi(text.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else if (c == '\\' && quoted) {
            fields.back() += text[++i];
        } else if (c == ',' && !quoted) {
            fields.emplace_back();
        } else if (quoted || !std::isspace(static_cast<unsigned char>(c)) || !fields.back().empty()) {
            fields.back() += c;
        }
    }
    for (auto& f : fields)
        f.erase(f.find_last_not_of(" \t\r") + 1);
    return fields;
}

struct RcDialog {
    std::string caption;
    int width = 0, height = 0;
    std::vector<ControlTemplate> controls;
    std::vector<std::string> texts;   // the controls' texts, owned here
};

RcDialog ReadDialog(const std::string& script, const std::string& name, const std::map<std::string, int>& ids)
{
    RcDialog d;
    const std::size_t start = script.find("\n" + name + " DIALOGEX");
    if (start == std::string::npos)
        return d;
    std::istringstream in(script.substr(start + 1));
    std::string line;
    std::getline(in, line);
    const auto size = Fields(line);
    d.width = std::stoi(size[2]);
    d.height = std::stoi(size[3]);
    auto id = [&](const std::string& field) { return ids.count(field) ? ids.at(field) : std::stoi(field, nullptr, 0); };
    auto layout = [](const std::string& keyword, const std::string& styles) {
        const bool centred = styles.find("SS_CENTERIMAGE") != std::string::npos;
        return keyword == "CTEXT" ? TextLayout::Centred : centred ? TextLayout::LeftCentred : TextLayout::LeftTop;
    };
    while (std::getline(in, line) && line.find("END") != 0) {
        std::istringstream words(line);
        std::string keyword;
        words >> keyword;
        std::string rest;
        std::getline(words, rest);
        const auto f = Fields(rest);
        if (keyword == "CAPTION") {
            d.caption = f[0];
            continue;
        }
        auto rect = [&](std::size_t at) {
            return std::array<int, 4>{std::stoi(f[at]), std::stoi(f[at + 1]), std::stoi(f[at + 2]),
                                      std::stoi(f[at + 3])};
        };
        ControlTemplate c{};
        std::array<int, 4> r{};
        std::string text;
        if (keyword == "DEFPUSHBUTTON") {
            c = {id(f[1]), ControlKind::DefPushButton, nullptr, 0, 0, 0, 0, 0, TextLayout::Centred};
            text = f[0];
            r = rect(2);
        } else if (keyword == "LTEXT" || keyword == "CTEXT") {
            c = {id(f[1]), ControlKind::Static, nullptr, 0, 0, 0, 0, 0, layout(keyword, f.size() > 6 ? f[6] : "")};
            text = f[0];
            r = rect(2);
        } else if (keyword == "ICON") {
            c = {id(f[1]), ControlKind::Picture, nullptr, id(f[0]), 0, 0, 0, 0, TextLayout::Centred};
            r = rect(2);
        } else if (keyword == "CONTROL" && f[2] == "PROGRESS_CLASS") {
            c = {id(f[1]), ControlKind::ProgressBar, nullptr, 0, 0, 0, 0, 0, TextLayout::LeftTop};
            r = rect(4);
        } else if (keyword == "CONTROL" && f[3].find("SS_BITMAP") != std::string::npos) {
            c = {id(f[1]), ControlKind::Picture, nullptr, id(f[0]), 0, 0, 0, 0, TextLayout::Centred};
            r = rect(4);
        } else {
            continue;   // STYLE, FONT, BEGIN and the like
        }
        std::tie(c.x, c.y, c.width, c.height) = std::tuple(r[0], r[1], r[2], r[3]);
        d.controls.push_back(c);
        d.texts.push_back(text);
    }
    return d;
}

void ExpectSame(const DialogTemplate& table, const RcDialog& rc)
{
    EXPECT_EQ(rc.caption, table.caption);
    EXPECT_EQ(rc.width, table.width);
    EXPECT_EQ(rc.height, table.height);
    ASSERT_EQ(rc.controls.size(), table.controls.size());
    for (std::size_t i = 0; i < rc.controls.size(); ++i) {
        const ControlTemplate& want = table.controls[i];
        const ControlTemplate& got = rc.controls[i];
        SCOPED_TRACE("control " + std::to_string(i) + " (id " + std::to_string(want.id) + ")");
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(got.kind, want.kind);
        EXPECT_EQ(std::tuple(got.x, got.y, got.width, got.height), std::tuple(want.x, want.y, want.width, want.height));
        if (want.kind == ControlKind::Picture) {
            EXPECT_EQ(got.picture, want.picture);
        } else if (want.kind != ControlKind::ProgressBar) {
            EXPECT_EQ(rc.texts[i], want.text);
        }
        if (want.kind == ControlKind::Static) {
            EXPECT_EQ(got.layout, want.layout);
        }
    }
}

}   // namespace

TEST(DialogLayout, TheResourceScriptHoldsTheTablesDialogsControlByControl)
{
    const std::string script = ReadFile(fs::path(VORN_SOURCE_DIR) / "src/win32/VORNdownload.rc");
    const auto ids = Defines(ReadFile(fs::path(VORN_SOURCE_DIR) / "src/window/resource.h"));
    ASSERT_EQ(ids.at("IDOK"), 1);
    ASSERT_EQ(ids.at("IDC_STATIC"), -1);
    {
        SCOPED_TRACE("dialog 102");
        ExpectSame(MainDialogTemplate(), ReadDialog(script, "IDD_VORNDOWNLOAD_DIALOG", ids));
    }
    {
        SCOPED_TRACE("dialog 100");
        ExpectSame(AboutDialogTemplate(), ReadDialog(script, "IDD_ABOUTBOX", ids));
    }
    EXPECT_EQ(MainDialogTemplate().id, ids.at("IDD_VORNDOWNLOAD_DIALOG"));
    EXPECT_EQ(AboutDialogTemplate().id, ids.at("IDD_ABOUTBOX"));
}

// The check itself sees a change: one rectangle moved in a copy of the script.
TEST(DialogLayout, AMovedControlInTheScriptIsSeen)
{
    std::string script = ReadFile(fs::path(VORN_SOURCE_DIR) / "src/win32/VORNdownload.rc");
    const auto ids = Defines(ReadFile(fs::path(VORN_SOURCE_DIR) / "src/window/resource.h"));
    const std::string line = "IDC_MESSAGE, 7, 223, 246, 20";
    ASSERT_NE(script.find(line), std::string::npos);
    script.replace(script.find(line), line.size(), "IDC_MESSAGE, 7, 224, 246, 20");
    const RcDialog moved = ReadDialog(script, "IDD_VORNDOWNLOAD_DIALOG", ids);
    ASSERT_EQ(moved.controls.size(), MainDialogTemplate().controls.size());
    EXPECT_EQ(moved.controls[8].y, 224);
}
