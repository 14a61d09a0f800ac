#include "ctl/export_admx.h"

#include "ctl/messages.h"
#include "ctl/profile.h"
#include "ctl/setting_value.h"
#include "ctl/writes.h"
#include "core/bytes.h"
#include "core/text.h"
#include "form/form_layout.h"
#include "formats/file_bytes.h"
#include "settings/catalogue.h"

#include <cstring>
#include <map>
#include <stdexcept>

namespace kestro {

namespace {

// The en-US template's texts: each setting's name and explanation in
// English. The ru-RU one takes the window's own caption and tooltip, so a
// Russian text is never kept twice.
struct EnglishText {
    const char* setting;
    const char* name;
    const char* explanation;
};
constexpr EnglishText kEnglish[] = {
    {"PaintDesktopVersion", "Show the Windows version on the desktop",
     "Enabled: the desktop shows the Windows version and build in its corner. Disabled: it does not."},
    {"CdAutorunOff", "Turn off AutoRun of CDs",
     "Enabled: the CD-ROM driver no longer tells Windows that a disc was inserted, so nothing on a CD or DVD starts "
     "by itself. Disabled: it does (Windows' default). After a restart."},
    {"LastAccessUpdateOff", "Do not update the last access time of files",
     "Enabled: NTFS no longer writes the time of the last access of each file and folder read, which makes large "
     "folders open faster. Disabled: it does. After a restart."},
    {"FontSmoothing", "Smooth the edges of screen fonts (ClearType)",
     "Enabled: screen fonts are smoothed with ClearType, in RGB order. Disabled: fonts are not smoothed."},
    {"CdromOff", "Turn off CD and DVD drives",
     "Enabled: the cdrom driver does not start, and CD and DVD drives are not available. Disabled: it starts when "
     "needed (Windows' default). After a restart."},
    {"FloppyOff", "Turn off floppy drives",
     "Enabled: the flpydisk driver does not start, and floppy drives are not available. Disabled: it starts when "
     "needed. After a restart."},
    {"ParallelPortOff", "Turn off the parallel port",
     "Enabled: the parport driver does not start, and the parallel (printer) port is not available. Disabled: it "
     "starts when needed. After a restart."},
    {"UsbStorageOff", "Turn off USB storage",
     "Enabled: the USBSTOR driver does not start, and USB flash drives and disks are not available; other USB "
     "devices work. Disabled: it starts when needed. After a restart."},
    {"RecycleBinName", "Name of the Recycle Bin",
     "Enabled: the Recycle Bin on the desktop and in Explorer has the name given. Disabled: the name given here is "
     "removed and Windows' own name returns. At the next logon."},
    {"RecycleBinInfoTip", "Tooltip of the Recycle Bin",
     "Enabled: the Recycle Bin's tooltip is the text given. Disabled: the text given here is removed and Windows' "
     "own tooltip returns. At the next logon."},
};

// The window's pages in English, for the categories.
constexpr std::pair<PageId, const char*> kEnglishPages[] = {
    {PageId::Ts1, "Main settings"},
    {PageId::Ts2, "More"},
    {PageId::Tb3, "System information"},
    {PageId::TabSheet1, "Locking devices"},
};

const EnglishText& EnglishOf(const Setting& row) {
    for (const EnglishText& text : kEnglish)
        if (std::strcmp(text.setting, row.name) == 0) return text;
    throw std::logic_error(std::string("No English text for the template's ") + row.name);
}

std::string Xml(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string PageName(PageId page) { return kMainPages[static_cast<int>(page)].name; }

const ControlDef& ControlOf(const char* name) {
    ControlId id;
    if (!FindControlId(name, &id)) throw std::logic_error(std::string("No control named ") + name);
    return DefOf(id);
}

// The template's rows: those with a state that Windows' templates lack.
std::vector<const Setting*> TemplateRows() {
    std::vector<const Setting*> rows;
    for (const Setting& row : kCatalogue)
        if (row.HasState() && !BuiltInPolicy(row)) rows.push_back(&row);
    return rows;
}

std::string SupportName(WindowsRange range) {
    std::string name = std::string("SUPPORTED_") + WindowsVersionName(range.first) + "_" + WindowsVersionName(range.last);
    for (char& c : name)
        if (c == '.') c = '_';
    return name;
}

std::string SupportText(WindowsRange range) {
    if (range.first == range.last) return std::string("Windows ") + WindowsVersionName(range.first);
    return std::string("Windows ") + WindowsVersionName(range.first) + " - Windows " + WindowsVersionName(range.last);
}

// Where Group Policy writes a value: its class and key below that class's
// root (HKEY_CLASSES_ROOT is the machine's Software\Classes).
struct Place {
    const char* policyClass;
    std::string key;
};

Place PlaceOf(const RegValue& value) {
    if (value.root == kHkeyCurrentUser) return {"User", value.keyPath};
    if (value.root == kHkeyClassesRoot) return {"Machine", "Software\\Classes\\" + value.keyPath};
    return {"Machine", value.keyPath};
}

std::string ValueXml(const RegValue& value) {
    if (value.type == kRegDword && value.data.size() == 4)
        return "<decimal value=\"" + std::to_string(LoadLe32(value.data.data())) + "\" />";
    if (value.type == kRegSz) {
        std::u16string units = Utf16FromLeBytes(value.data);
        while (!units.empty() && units.back() == u'\0') units.pop_back();
        return "<string>" + Xml(Utf16ToUtf8(units)) + "</string>";
    }
    throw std::logic_error("A value of type " + std::to_string(value.type) + " in the template");
}

std::vector<RegValue> ValuesOf(const Setting& row, const SettingValue& value) {
    Profile profile;
    profile.entries.push_back({&row, value, 0});
    return RegistryValuesFor(profile);
}

// A toggle's two states as the values `set` writes for on and off.
std::string ToggleXml(const Setting& row, const std::string& indent) {
    const std::vector<RegValue> on = ValuesOf(row, SettingValue::Toggle(true));
    const std::vector<RegValue> off = ValuesOf(row, SettingValue::Toggle(false));
    std::string xml;
    const auto list = [&](const char* element, const std::vector<RegValue>& values) {
        xml += indent + "<" + element + ">\n";
        for (const RegValue& value : values) {
            xml += indent + "  <item key=\"" + Xml(PlaceOf(value).key) + "\" valueName=\"" + Xml(value.name) +
                   "\"><value>" + ValueXml(value) + "</value></item>\n";
        }
        xml += indent + "</" + element + ">\n";
    };
    list("enabledList", on);
    list("disabledList", off);
    return xml;
}

}  // namespace

int ExportAdmx(const std::string& dir, Console& console) {
    const std::vector<const Setting*> rows = TemplateRows();
    std::map<std::string, WindowsRange> supports;
    std::map<int, bool> pages;
    for (const Setting* row : rows) {
        supports.emplace(SupportName(HonouredBy(*row)), HonouredBy(*row));
        pages[static_cast<int>(ControlOf(row->control).page)] = true;
    }

    std::string admx =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<policyDefinitions xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" revision=\"1.0\" schemaVersion=\"1.0\" "
        "xmlns=\"http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions\">\n"
        "  <policyNamespaces>\n"
        "    <target prefix=\"kestro\" namespace=\"Kestro.Policies.Kestro\" />\n"
        "  </policyNamespaces>\n"
        "  <resources minRequiredRevision=\"1.0\" />\n"
        "  <supportedOn>\n    <definitions>\n";
    for (const auto& support : supports)
        admx += "      <definition name=\"" + support.first + "\" displayName=\"$(string." + support.first + ")\" />\n";
    admx += "    </definitions>\n  </supportedOn>\n  <categories>\n"
            "    <category name=\"Kestro\" displayName=\"$(string.Kestro)\" />\n";
    for (const auto& page : pages) {
        const std::string name = "Page_" + PageName(static_cast<PageId>(page.first));
        admx += "    <category name=\"" + name + "\" displayName=\"$(string." + name +
                ")\">\n      <parentCategory ref=\"Kestro\" />\n    </category>\n";
    }
    admx += "  </categories>\n  <policies>\n";

    // The string tables of both languages, in the same order.
    struct Strings {
        std::string strings, presentations;
        void Add(const std::string& id, const std::string& text) {
            strings += "      <string id=\"" + id + "\">" + Xml(text) + "</string>\n";
        }
    } en, ru;
    en.Add("Kestro", "Kestro");
    ru.Add("Kestro", "Kestro");
    for (const auto& support : supports) {
        en.Add(support.first, SupportText(support.second));
        ru.Add(support.first, SupportText(support.second));
    }
    for (const auto& page : pages) {
        const PageId id = static_cast<PageId>(page.first);
        for (const auto& english : kEnglishPages)
            if (english.first == id) en.Add("Page_" + PageName(id), english.second);
        ru.Add("Page_" + PageName(id), WideToUtf8(kMainPages[page.first].caption));
    }

    for (const Setting* row : rows) {
        const std::string name = row->name;
        const ControlDef& control = ControlOf(row->control);
        const ControlDef& caption = ControlOf(row->CaptionControl());
        const bool text = KindOf(*row) == ValueKind::Text;
        // Every value of a row lies in one key of one class.
        const std::vector<RegValue> sample = ValuesOf(*row, text ? SettingValue::Text(L"-") : SettingValue::Toggle(true));
        const Place place = PlaceOf(sample.front());
        admx += "    <policy name=\"" + name + "\" class=\"" + place.policyClass + "\" displayName=\"$(string." + name +
                ")\" explainText=\"$(string." + name + "_Help)\"" + (text ? " presentation=\"$(presentation." + name + ")\"" : "") +
                " key=\"" + Xml(place.key) + "\">\n" + "      <parentCategory ref=\"Page_" + PageName(control.page) +
                "\" />\n" + "      <supportedOn ref=\"" + SupportName(HonouredBy(*row)) + "\" />\n";
        if (text) {
            admx += "      <elements>\n        <text id=\"" + name + "\" valueName=\"" + Xml(sample.front().name) +
                    "\" required=\"true\" maxLength=\"" + std::to_string(kMaxProfileTextChars) + "\" />\n      </elements>\n";
        } else {
            admx += ToggleXml(*row, "      ");
        }
        admx += "    </policy>\n";

        const EnglishText& english = EnglishOf(*row);
        en.Add(name, english.name);
        en.Add(name + "_Help", english.explanation);
        std::string ruName = WideToUtf8(caption.caption ? caption.caption : L"");
        while (!ruName.empty() && ruName.back() == ':') ruName.pop_back();
        ru.Add(name, ruName);
        ru.Add(name + "_Help", WideToUtf8(control.tooltip ? control.tooltip : caption.caption));
        if (text) {
            en.presentations += "      <presentation id=\"" + name + "\">\n        <textBox refId=\"" + name +
                                "\">\n          <label>" + Xml(english.name) + "</label>\n        </textBox>\n"
                                "      </presentation>\n";
            ru.presentations += "      <presentation id=\"" + name + "\">\n        <textBox refId=\"" + name +
                                "\">\n          <label>" + Xml(ruName) + "</label>\n        </textBox>\n"
                                "      </presentation>\n";
        }
    }
    admx += "  </policies>\n</policyDefinitions>\n";

    const auto adml = [](const Strings& strings, const std::string& description) {
        return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
               "<policyDefinitionResources xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
               "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" revision=\"1.0\" schemaVersion=\"1.0\" "
               "xmlns=\"http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions\">\n"
               "  <displayName>Kestro</displayName>\n  <description>" +
               Xml(description) + "</description>\n  <resources>\n    <stringTable>\n" + strings.strings +
               "    </stringTable>\n    <presentationTable>\n" + strings.presentations +
               "    </presentationTable>\n  </resources>\n</policyDefinitionResources>\n";
    };
#ifdef _WIN32
    const std::string slash = "\\";
#else
    const std::string slash = "/";
#endif
    const auto bytes = [](const std::string& text) { return std::vector<std::uint8_t>(text.begin(), text.end()); };
    const std::string files[] = {dir + slash + "kestro.admx", dir + slash + "en-US" + slash + "kestro.adml",
                                 dir + slash + "ru-RU" + slash + "kestro.adml"};
    try {
        MakeDirectory(dir);
        MakeDirectory(dir + slash + "en-US");
        MakeDirectory(dir + slash + "ru-RU");
        WriteFileBytes(files[0], bytes(admx));
        WriteFileBytes(files[1], bytes(adml(en, "Kestro's settings that Windows' own templates lack")));
        WriteFileBytes(files[2], bytes(adml(ru, "Настройки Kestro, которых нет в шаблонах самой Windows")));
    } catch (const FileError& e) {
        console.Err(std::string("kestroctl: ") + e.what() + "\n");
        return kExitFailed;
    }
    console.Out(Tr("%1 settings written to %2, %3 and %4", rows.size(), files[0], files[1], files[2]) + "\n");
    return kExitOk;
}

}  // namespace kestro
