// The list of tools the engine is given. The descriptions are the engine's
// only account of what it may do and of the CA's rules (what it may click,
// where files land, what the CA approves), so their wording matters.
#include "toolserver/BrowserMCP.h"
#include "toolserver/Families.h"

namespace {

using Tool::obj;

QJsonObject prop(const char *type, const QString &description = {})
{
    QJsonObject p{{QStringLiteral("type"), QLatin1String(type)}};
    if (!description.isEmpty())
        p.insert(QStringLiteral("description"), description);
    return p;
}

QJsonObject choice(const QStringList &values)
{
    return QJsonObject{{QStringLiteral("type"), QStringLiteral("string")},
                       {QStringLiteral("enum"), QJsonArray::fromStringList(values)}};
}

QJsonObject def(const char *name, const QString &description, const QJsonObject &schema)
{
    return QJsonObject{{QStringLiteral("name"), QLatin1String(name)},
                       {QStringLiteral("description"), description},
                       {QStringLiteral("inputSchema"), schema}};
}

const QJsonObject none{};

QJsonArray ownTools()
{
    const QString clientsPath = QStringLiteral("path inside the clients folder");
    const QJsonObject narration{
        {QStringLiteral("type"), QStringLiteral("array")},
        {QStringLiteral("description"), QStringLiteral("Narration, one line per step, in time order")},
        {QStringLiteral("items"),
         obj({{QStringLiteral("at"), prop("number", QStringLiteral("Seconds from the start of the recording"))},
              {QStringLiteral("text"), prop("string")}},
             {QStringLiteral("at"), QStringLiteral("text")})},
    };

    return QJsonArray{
        def("browser_open",
            QStringLiteral("Open a URL in the Velto browser (Indian government portals and Hallix only)."),
            obj({{QStringLiteral("url"), prop("string")}}, {QStringLiteral("url")})),
        def("browser_read",
            QStringLiteral("Read the page: URL, title, text, and every control with a ref (r1, r2…). Call before "
                           "clicking or typing."),
            obj(none, {})),
        def("browser_find", QStringLiteral("Find controls whose label or text contains a phrase. Returns refs."),
            obj({{QStringLiteral("text"), prop("string")}}, {QStringLiteral("text")})),
        def("browser_click",
            QStringLiteral("Click a control by ref. Submit / File / Pay / OTP / DSC are refused — the CA clicks those."),
            obj({{QStringLiteral("ref"), prop("string")}}, {QStringLiteral("ref")})),
        def("browser_type",
            QStringLiteral("Type into an input by ref, replacing what is there. Use portal_sign_in for passwords and "
                           "portal_otp for OTP boxes."),
            obj({{QStringLiteral("ref"), prop("string")},
                 {QStringLiteral("text"), prop("string")},
                 {QStringLiteral("press_enter"), prop("boolean")}},
                {QStringLiteral("ref"), QStringLiteral("text")})),
        def("portal_otp",
            QStringLiteral("The page is asking for an OTP, EVC or authentication code. Velto brings its window forward, "
                           "puts the cursor in the box, and waits while the CA types the code. You never see or send "
                           "the code. Returns once they have entered it, then carry straight on."),
            obj(none, {})),
        def("browser_select", QStringLiteral("Pick an option in a dropdown by ref, by option text or value."),
            obj({{QStringLiteral("ref"), prop("string")}, {QStringLiteral("value"), prop("string")}},
                {QStringLiteral("ref"), QStringLiteral("value")})),
        def("browser_back", QStringLiteral("Go back one page."), obj(none, {})),
        def("browser_reload", QStringLiteral("Reload the page."), obj(none, {})),
        def("browser_wait", QStringLiteral("Wait a few seconds for the page to settle (max 15)."),
            obj({{QStringLiteral("seconds"), prop("number")}}, {})),
        def("browser_screenshot", QStringLiteral("Screenshot the browser window as evidence. Returns an image."),
            obj(none, {})),
        def("browser_scroll",
            QStringLiteral("Scroll the page: top, bottom, next or previous screen, or to a y position. Use before "
                           "screenshotting a long page."),
            obj({{QStringLiteral("to"),
                  choice({QStringLiteral("top"), QStringLiteral("bottom"), QStringLiteral("next"),
                          QStringLiteral("previous")})},
                 {QStringLiteral("y"), prop("number")}},
                {})),
        def("browser_downloads",
            QStringLiteral("Files the portal downloaded in the Velto browser — they land in 01 Inbox. With move_to, "
                           "files the newest finished one (or `id`) into the client's folder under that path (a "
                           "folder, or a full file name); waits up to 90 seconds for a download still running."),
            obj({{QStringLiteral("move_to"),
                  prop("string", QStringLiteral("path inside the clients folder, e.g. Quenby India Pvt Ltd/GST/2026-08/ "
                                                "or …/GSTR2B_24AAQFK5512M1Z8_082026.json"))},
                 {QStringLiteral("id"),
                  prop("integer", QStringLiteral("which download, from the list; default the newest"))}},
                {})),
        def("browser_upload",
            QStringLiteral("Attach a file from the client folder to a file input on the page, by ref. Use for portal "
                           "document uploads. The file must be inside the workspace."),
            obj({{QStringLiteral("ref"), prop("string")}, {QStringLiteral("path"), prop("string", clientsPath)}},
                {QStringLiteral("ref"), QStringLiteral("path")})),
        def("skill_save",
            QStringLiteral("Write down a procedure you just worked out — usually a portal you mapped step by step — so "
                           "the next request follows it instead of exploring again. Also how you fix a Hallix skill "
                           "that has gone stale: pass that skill's own name with what was actually on the screen, and "
                           "it is kept as a correction beside it and put back after every sync. The CA must confirm "
                           "first."),
            obj({{QStringLiteral("name"),
                  prop("string", QStringLiteral("kebab-case, e.g. up-professional-tax-registration"))},
                 {QStringLiteral("description"),
                  prop("string",
                       QStringLiteral("one line: when to use it and what it produces, under 150 characters"))},
                 {QStringLiteral("body"), prop("string", QStringLiteral("the Markdown procedure, without front-matter"))},
                 {QStringLiteral("confirmed_by_ca"), prop("boolean", QStringLiteral("must be true"))}},
                {QStringLiteral("name"), QStringLiteral("description"), QStringLiteral("body"),
                 QStringLiteral("confirmed_by_ca")})),
        def("doc_text",
            QStringLiteral("Read the text of a document in the client folder: PDF, Word (.docx/.doc), RTF, ODT, HTML, "
                           "TXT or Markdown. PDFs come back with page markers, and pages with no text (scans) are "
                           "named."),
            obj({{QStringLiteral("path"), prop("string", clientsPath)},
                 {QStringLiteral("from_page"), prop("integer", QStringLiteral("PDF only: first page, 1-based"))},
                 {QStringLiteral("to_page"), prop("integer", QStringLiteral("PDF only: last page, inclusive"))}},
                {QStringLiteral("path")})),
        def("portal_logins",
            QStringLiteral("List the client portal logins saved on this computer (client, portal, user id). No "
                           "passwords."),
            obj(none, {})),
        def("portal_sign_in",
            QStringLiteral("Sign a client into a portal with their saved login. Velto types it itself; you never see "
                           "the password. Stops at a captcha or OTP for the CA to finish."),
            obj({{QStringLiteral("client"), prop("string", QStringLiteral("client name (part of it is enough)"))},
                 {QStringLiteral("portal"),
                  prop("string", QStringLiteral("GST, Income Tax, TRACES (TDS), MCA, EPFO, ESIC, e-Way Bill, "
                                                "e-Invoice …"))}},
                {QStringLiteral("client"), QStringLiteral("portal")})),
        def("browser_tabs", QStringLiteral("List open tabs with index, title and URL."), obj(none, {})),
        def("browser_tab_new",
            QStringLiteral("Open a tab, optionally at a url, and make it active. One tab per client per filing."),
            obj({{QStringLiteral("url"), prop("string")}}, {})),
        def("browser_tab_select", QStringLiteral("Switch to a tab by index."),
            obj({{QStringLiteral("index"), prop("integer")}}, {QStringLiteral("index")})),
        def("browser_tab_close", QStringLiteral("Close a tab by index."),
            obj({{QStringLiteral("index"), prop("integer")}}, {QStringLiteral("index")})),
        def("record_start",
            QStringLiteral("Start recording the Browser pane into <client>/Videos/<name>/ for a tutorial video. "
                           "Passwords, OTPs, captchas, PAN, Aadhaar, mobile, email and bank numbers are hidden in every "
                           "frame by the app. The CA is asked to approve. mode: velto = you do the portal steps "
                           "(Submit, OTP and captcha stay the CA's), ca = the CA works and you only record."),
            obj({{QStringLiteral("client"),
                  prop("string", QStringLiteral("Client folder name, or 00 Firm for the firm's own videos"))},
                 {QStringLiteral("name"), prop("string", QStringLiteral("Short file name, e.g. GST registration"))},
                 {QStringLiteral("mode"), choice({QStringLiteral("velto"), QStringLiteral("ca")})}},
                {QStringLiteral("client"), QStringLiteral("name")})),
        def("record_mark",
            QStringLiteral("Name the step that starts now in the recording, e.g. \"Step 3 · PAN verify\". Call it at "
                           "each logical step; it becomes a chapter and a line of the guide."),
            obj({{QStringLiteral("title"), prop("string")}}, {QStringLiteral("title")})),
        def("record_status",
            QStringLiteral("Whether a recording is running, for how long, and how many steps so far."), obj(none, {})),
        def("record_stop",
            QStringLiteral("Stop the recording. Returns the steps with their times (labels only, never values) and "
                           "what was hidden. Draft one narration line per step from these, show them to the CA, then "
                           "call record_render."),
            obj(none, {})),
        def("record_render",
            QStringLiteral("Make the final video from the recording and the narration the CA approved: voice-over, "
                           "captions (.srt and on the video), held frames where speech runs long, and a poster. voice: "
                           "system = the computer's own voice, none = captions only."),
            obj({{QStringLiteral("client"), prop("string")},
                 {QStringLiteral("name"), prop("string")},
                 {QStringLiteral("lines"), narration},
                 {QStringLiteral("voice"),
                  choice({QStringLiteral("system"), QStringLiteral("none"), QStringLiteral("cloud"),
                          QStringLiteral("mine")})},
                 {QStringLiteral("language"), choice({QStringLiteral("hi"), QStringLiteral("en")})},
                 {QStringLiteral("captions"), prop("boolean")}},
                {QStringLiteral("client"), QStringLiteral("name"), QStringLiteral("lines")})),
    };
}

} // namespace

QJsonArray BrowserMCP::tools()
{
    // The own table never changes while the program runs: built once.
    static const QJsonArray own = ownTools();
    QJsonArray list = own;
    for (const ToolFamily &family : Families::listed)
        for (const QJsonValue &definition : family.definitions(&Tool::obj))
            list.append(definition);
    return list;
}
