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

// The string tables of both languages, kept in the same order.
struct StringTable {
    std::string strings, presentations;
    void Add(const std::string& id, const std::string& text) {
        strings += "      <string id=\"" + id + "\">" + Xml(text) + "</string>\n";
    }
    void AddTextBox(const std::string& id, const std::string& label) {
        presentations += "      <presentation id=\"" + id + "\">\n        <textBox refId=\"" + id +
                         "\">\n          <label>" + Xml(label) + "</label>\n        </textBox>\n"
                         "      </presentation>\n";
    }
};

// What the template's rows need declared first: the ranges of Windows
// versions (by their names) and the window's pages (by number) they have.
struct Declarations {
    std::map<std::string, WindowsRange> supports;
    std::map<int, bool> pages;
};

Declarations DeclarationsOf(const std::vector<const Setting*>& rows) {
    Declarations declared;
    for (const Setting* row : rows) {
        declared.supports.emplace(SupportName(HonouredBy(*row)), HonouredBy(*row));
        declared.pages[static_cast<int>(ControlOf(row->control).page)] = true;
    }
    return declared;
}

// The admx up to its policies: namespace, versions and categories.
std::string AdmxHead(const Declarations& declared) {
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
    for (const auto& support : declared.supports)
        admx += "      <definition name=\"" + support.first + "\" displayName=\"$(string." + support.first + ")\" />\n";
    admx += "    </definitions>\n  </supportedOn>\n  <categories>\n"
            "    <category name=\"Kestro\" displayName=\"$(string.Kestro)\" />\n";
    for (const auto& page : declared.pages) {
        const std::string name = "Page_" + PageName(static_cast<PageId>(page.first));
        admx += "    <category name=\"" + name + "\" displayName=\"$(string." + name +
                ")\">\n      <parentCategory ref=\"Kestro\" />\n    </category>\n";
    }
    return admx + "  </categories>\n  <policies>\n";
}

// The head's strings: the product, the versions and the pages' names.
void AddHeadStrings(const Declarations& declared, StringTable& en, StringTable& ru) {
    en.Add("Kestro", "Kestro");
    ru.Add("Kestro", "Kestro");
    for (const auto& support : declared.supports) {
        en.Add(support.first, SupportText(support.second));
        ru.Add(support.first, SupportText(support.second));
    }
    for (const auto& page : declared.pages) {
        const PageId id = static_cast<PageId>(page.first);
        for (const auto& english : kEnglishPages)
            if (english.first == id) en.Add("Page_" + PageName(id), english.second);
        ru.Add("Page_" + PageName(id), WideToUtf8(kMainPages[page.first].caption));
    }
}

bool IsText(const Setting& row) { return KindOf(row) == ValueKind::Text; }

// One row's policy element.
std::string PolicyXml(const Setting& row) {
    const std::string name = row.name;
    const bool text = IsText(row);
    // Every value of a row lies in one key of one class.
    const std::vector<RegValue> sample = ValuesOf(row, text ? SettingValue::Text(L"-") : SettingValue::Toggle(true));
    const Place place = PlaceOf(sample.front());
    std::string xml = "    <policy name=\"" + name + "\" class=\"" + place.policyClass + "\" displayName=\"$(string." +
                      name + ")\" explainText=\"$(string." + name + "_Help)\"" +
                      (text ? " presentation=\"$(presentation." + name + ")\"" : "") + " key=\"" + Xml(place.key) +
                      "\">\n" + "      <parentCategory ref=\"Page_" + PageName(ControlOf(row.control).page) + "\" />\n" +
                      "      <supportedOn ref=\"" + SupportName(HonouredBy(row)) + "\" />\n";
    if (text) {
        xml += "      <elements>\n        <text id=\"" + name + "\" valueName=\"" + Xml(sample.front().name) +
               "\" required=\"true\" maxLength=\"" + std::to_string(kMaxProfileTextChars) + "\" />\n      </elements>\n";
    } else {
        xml += ToggleXml(row, "      ");
    }
    return xml + "    </policy>\n";
}

// One row's strings: its name and explanation in English, and the window's
// caption and tooltip in Russian; a text's box is labelled with its name.
void AddPolicyStrings(const Setting& row, StringTable& en, StringTable& ru) {
    const std::string name = row.name;
    const ControlDef& control = ControlOf(row.control);
    const ControlDef& caption = ControlOf(row.CaptionControl());
    const EnglishText& english = EnglishOf(row);
    en.Add(name, english.name);
    en.Add(name + "_Help", english.explanation);
    std::string ruName = WideToUtf8(caption.caption ? caption.caption : L"");
    while (!ruName.empty() && ruName.back() == ':') ruName.pop_back();
    ru.Add(name, ruName);
    ru.Add(name + "_Help", WideToUtf8(control.tooltip ? control.tooltip : caption.caption));
    if (IsText(row)) {
        en.AddTextBox(name, english.name);
        ru.AddTextBox(name, ruName);
    }
}

std::string AdmlXml(const StringTable& strings, const std::string& description) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<policyDefinitionResources xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" revision=\"1.0\" schemaVersion=\"1.0\" "
           "xmlns=\"http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions\">\n"
           "  <displayName>Kestro</displayName>\n  <description>" +
           Xml(description) + "</description>\n  <resources>\n    <stringTable>\n" + strings.strings +
           "    </stringTable>\n    <presentationTable>\n" + strings.presentations +
           "    </presentationTable>\n  </resources>\n</policyDefinitionResources>\n";
}

// The three files, in the order they are written: kestro.admx, then the
// en-US and the ru-RU kestro.adml; and the folders they go into.
struct TemplateFiles {
    std::string folders[3];
    std::string paths[3];
    std::string texts[3];
};

TemplateFiles FilesIn(const std::string& dir, const std::string& admx, const StringTable& en, const StringTable& ru) {
#ifdef _WIN32
    const std::string slash = "\\";
#else
    const std::string slash = "/";
#endif
    const std::string english = dir + slash + "en-US", russian = dir + slash + "ru-RU";
    return {{dir, english, russian},
            {dir + slash + "kestro.admx", english + slash + "kestro.adml", russian + slash + "kestro.adml"},
            {admx, AdmlXml(en, "Kestro's settings that Windows' own templates lack"),
             AdmlXml(ru, "Настройки Kestro, которых нет в шаблонах самой Windows")}};
}

// Makes the folders and writes the files; a FileError says which failed.
void WriteTemplates(const TemplateFiles& files) {
    const auto bytes = [](const std::string& text) { return std::vector<std::uint8_t>(text.begin(), text.end()); };
    for (const std::string& folder : files.folders) MakeDirectory(folder);
    for (int i = 0; i < 3; ++i) WriteFileBytes(files.paths[i], bytes(files.texts[i]));
}

}  // namespace

int ExportAdmx(const std::string& dir, Console& console) {
    const std::vector<const Setting*> rows = TemplateRows();
    const Declarations declared = DeclarationsOf(rows);
    std::string admx = AdmxHead(declared);
    StringTable en, ru;
    AddHeadStrings(declared, en, ru);
    for (const Setting* row : rows) {
        admx += PolicyXml(*row);
        AddPolicyStrings(*row, en, ru);
    }
    admx += "  </policies>\n</policyDefinitions>\n";

    const TemplateFiles files = FilesIn(dir, admx, en, ru);
    try {
        WriteTemplates(files);
    } catch (const FileError& e) {
        console.Err(std::string("kestroctl: ") + e.what() + "\n");
        return kExitFailed;
    }
    console.Out(Tr("%1 settings written to %2, %3 and %4", rows.size(), files.paths[0], files.paths[1], files.paths[2]) +
                "\n");
    return kExitOk;
}

}  // namespace kestro
