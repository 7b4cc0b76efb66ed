#pragma once
// The message catalogue. Every text the program shows in its status places is
// fetched through LookupText with a number and its default; the catalogue is
// never filled, so the defaults below are what the user reads. Each text is
// written here once and used by name everywhere else.

#include <QString>
#include <array>

namespace vt {

struct textrecord {
    int num = 0;
    std::array<QString, 51> text;
};

extern std::array<textrecord, 101> MessageTexts;

// The language column of the catalogue (the `language` setting).
int current_language();

QString LookupText(int number, const QString& def);

struct MessageDef {
    int num;
    const char* text;  // UTF-8
};

inline QString Text(const MessageDef& m) {
    return LookupText(m.num, QString::fromUtf8(m.text));
}

namespace msg {
// clang-format off
inline constexpr MessageDef ProgramVantor        {1000, "VantorTrans"};
inline constexpr MessageDef Version              {1001, "Version"};
inline constexpr MessageDef ConfirmClose         {1010, "Programm beenden ?"};
inline constexpr MessageDef Settings             {2000, "Einstellungen"};
inline constexpr MessageDef Save                 {2001, "Speichern"};
inline constexpr MessageDef Interface            {2200, "Schnittstelle"};
inline constexpr MessageDef Port                 {2201, "Port"};
inline constexpr MessageDef Device               {2202, "Gerät"};
inline constexpr MessageDef BrowserManual        {2210, "Manuell"};
inline constexpr MessageDef BrowserMicrosoft     {2211, "Microsoft"};
inline constexpr MessageDef BrowserFirefox       {2212, "Firefox"};
inline constexpr MessageDef PortOpened           {8000, "Schnittstelle geöffnet"};
inline constexpr MessageDef PortOpenFailed       {8001, "Schnittstelle %s konnte nicht geöffnet werden."};
inline constexpr MessageDef TrayStartVantor      {9000, "VantorTrans : bereit"};
inline constexpr MessageDef TrayReadyVantor      {9000, "VantorTrans : bereit."};
inline constexpr MessageDef TrayNoFormVantor     {9002, "VantorTrans : Bestellformular nicht aktiv."};
inline constexpr MessageDef TrayNotReadyVantor   {9002, "VantorTrans : MDE nicht bereit."};
inline constexpr MessageDef BrowserOk            {9010, "Browser : ok."};
inline constexpr MessageDef BrowserNoForm        {9012, "Browser : Bestellformular nicht aktiv."};
inline constexpr MessageDef MdeReady             {9020, "MDE     : bereit"};
inline constexpr MessageDef MdeNoData            {9021, "MDE     : keine Daten"};
inline constexpr MessageDef MdeNotReady          {9022, "MDE     : nicht bereit"};
inline constexpr MessageDef TransferOk           {9900, "Übertragung erfolgreich"};

// Texts that share the number 9999.
inline constexpr MessageDef ProgramMirabo        {9999, "MiraboTrans"};
inline constexpr MessageDef ProgramDoerfalCaption{9999, "DörfalTrans"};
inline constexpr MessageDef ProgramDoerfalInfo   {9999, "DoerfalTrans"};
inline constexpr MessageDef TrayStartMirabo      {9999, "MiraboTrans : bereit"};
inline constexpr MessageDef TrayStartDoerfal     {9999, "DörfalTrans : bereit"};
inline constexpr MessageDef TrayNoFormMirabo     {9999, "MiraboTrans : Bestellformular nicht aktiv."};
inline constexpr MessageDef TrayNoFormDoerfal    {9999, "DörfalTrans : Bestellformular nicht aktiv."};
inline constexpr MessageDef TrayReadyMirabo      {9999, "MiraboTrans : bereit."};
inline constexpr MessageDef TrayReadyDoerfal     {9999, "DoerfalTrans : bereit."};
inline constexpr MessageDef TrayNotReadyMirabo   {9999, "MiraboTrans : MDE nicht bereit."};
inline constexpr MessageDef TrayNotReadyDoerfal  {9999, "DoerfalTrans : MDE nicht bereit."};
inline constexpr MessageDef Info                 {9999, "Info"};
inline constexpr MessageDef DeviceOpl            {9999, "OPL-98xx"};
inline constexpr MessageDef DeviceOpn            {9999, "OPN-2001"};
inline constexpr MessageDef BrowserChrome        {9999, "Chrome"};
inline constexpr MessageDef WordExplorer         {9999, "Explorer"};
inline constexpr MessageDef WordFirefox          {9999, "Firefox"};
inline constexpr MessageDef WordChrome           {9999, "Chrome"};
inline constexpr MessageDef WordEdge             {9999, "Edge"};
inline constexpr MessageDef WordChromium         {9999, "Chromium"};
inline constexpr MessageDef MdeWaiting           {9999, "MDE     : warte auf MDE"};
inline constexpr MessageDef TransferFailed       {9999, "Übertragungsfehler"};
// clang-format on
}  // namespace msg

// Texts outside the catalogue, shown as they stand.
namespace txt {
inline constexpr const char* StartTransfer = "Übertragung starten ?";
inline constexpr const char* Confirm = "Bestätigen";
inline constexpr const char* FileOpenError = "Fehler beim öffnen der Datei : ";
inline constexpr const char* FileWriteError = "Fehler beim Schreiben der Datei : ";
inline constexpr const char* FileReadError = "Fehler beim Lesen der Datei : ";
inline constexpr const char* SkippedLines = "Übersprungene Zeilen (zu kurz) : ";
inline constexpr const char* ShortRecord = "Satz zu kurz, unvollständig übertragen : ";
inline constexpr const char* BatchLeftOnClipboard =
    "Bestellformular nicht aktiv: die Zeilen liegen in der Zwischenablage.";
inline constexpr const char* ErrorTitle = "Fehler";
inline constexpr const char* WarningTitle = "Warnung";
inline constexpr const char* CannotWrite = "In %s kann nicht geschrieben werden";
// The per-user folder of a menu start could not be made; the program goes on.
inline constexpr const char* UserFolderFailed =
    "Benutzerordner %s konnte nicht erstellt werden. Das Programm arbeitet in %s.";
// Start at login: an entry of the brand's name that the user wrote by hand.
inline constexpr const char* AutostartNotOurs =
    "Der Autostart-Eintrag %s wurde nicht von diesem Programm angelegt und bleibt unverändert.";
// Port-open failures the user can do something about (status bar).
inline constexpr const char* PortNoPermission = "Keine Berechtigung für %s (Gruppe %s).";
inline constexpr const char* PortBusy = "Schnittstelle %s ist belegt.";
inline constexpr const char* NotActiveSuffix = " Bestellformular nicht aktiv";
// Targets of the OPL-98xx scanner's files 1 to 3 (file 0 has the brand's text).
inline constexpr const char* OplTargetSimple = "-> Shop Simple System";
inline constexpr const char* OplTargetCsv = "-> CSV Export";
inline constexpr const char* OplTargetUgs = "-> UGS Export";
// A file name from the scanner that must not become a path.
inline constexpr const char* RefusedFileName = "Ungültiger Dateiname vom MDE : \"%s\"";

inline constexpr const char* ProgramVersion = "1.18";

// Settings dialog
inline constexpr const char* ProgramVersionLabel = "Programmversion : ";
inline constexpr const char* DllVersionLabel = "DLL-Version :";
inline constexpr const char* Parameters = "Parameter";
inline constexpr const char* Minimize = "Anwendung verkleinern";
inline constexpr const char* TrayIcon = "Icon in Traybar anzeigen";
inline constexpr const char* TaskBar = "Anzeige in Taskbar aktivieren";
inline constexpr const char* ConfirmCloseOption = "Beenden bestätigen";
inline constexpr const char* StartAtLogin = "Beim Anmelden starten";
inline constexpr const char* DeliveryGroup = "Übertragung an den Browser";
inline constexpr const char* DeliveryKeys = "Tastatur";
inline constexpr const char* DeliveryExtension = "Browser-Erweiterung";
inline constexpr const char* TabShop = "Shop";
inline constexpr const char* TabCsv = "CSV";
inline constexpr const char* TabUgs = "UGS";
inline constexpr const char* Browser = "Browser";
inline constexpr const char* BrowserTitle = "Browsertitel";
inline constexpr const char* FormTitle = "Formulattitel";
inline constexpr const char* RemovePrefix = "Präfix entfernen";
inline constexpr const char* ShopSimpleSystem = "Shop Simple System";
inline constexpr const char* FileGroup = "Datei";
inline constexpr const char* Directory = "Verzeichnis";
inline constexpr const char* Change = "Ändern";
inline constexpr const char* FileName = "Dateiname";
inline constexpr const char* ColumnOrder = "Reihenfolge";
inline constexpr const char* Separator = "Trennzeichen";
inline constexpr const char* Ellipsis = "...";

// Port list
inline constexpr const char* PortSeparatorShort = "  :  ";
inline constexpr const char* PortSeparatorLong = " :  ";
inline constexpr const char* PortUart = "Serielle Schnittstelle";
inline constexpr const char* PortUsb = "USB-Schnittstelle";
inline constexpr const char* PortPseudoTerminal = "Pseudo-Terminal";

// Directory dialogs
inline constexpr const char* NewDirectory = "Neues Verzeichnis";
inline constexpr const char* New = "Neu";
inline constexpr const char* Cancel = "Abbrechen";
inline constexpr const char* Accept = "Übernehmen";
inline constexpr const char* Create = "Erstellen";
inline constexpr const char* CannotCreateDirectory = "Verzeichnis konnte nicht erstellt werden.";

// Log lines of the browser delivery when it sends nothing; the line follows.
inline constexpr const char* NotSentFormClosed = "Bestellformular geschlossen, nicht gesendet : ";
inline constexpr const char* NotSentFormNotActive = "Bestellformular nicht im Vordergrund, nicht gesendet : ";
inline constexpr const char* NotSentAccessKey = "Zugriffstaste %s hat keine Taste, nicht gesendet : ";
// The same when the browser extension did not take the line.
inline constexpr const char* NotSentNoField = "Kein Eingabefeld im Bestellformular, nicht gesendet : ";
inline constexpr const char* NotSentPageNotReady = "Bestellformular nicht bereit, nicht gesendet : ";
inline constexpr const char* NotSentNoAnswer = "Browser-Erweiterung antwortet nicht, nicht gesendet : ";
inline constexpr const char* NotSentRefused = "Browser-Erweiterung lehnt ab, nicht gesendet : ";
inline constexpr const char* NotSentNotConnected = "Browser-Erweiterung nicht verbunden, nicht gesendet : ";
// Status list: whether the browser extension is there, and in which browsers.
inline constexpr const char* ExtensionNotConnected = "Browser-Erweiterung nicht verbunden";
inline constexpr const char* ExtensionConnected = "Browser-Erweiterung : verbunden (%s)";
inline constexpr const char* ExtensionSocketFailed = "Browser-Erweiterung nicht erreichbar : ";
// Once, when the session has no runtime folder; the folder follows.
inline constexpr const char* ExtensionFallbackDir =
    "Browser-Erweiterung : XDG_RUNTIME_DIR nicht gesetzt, Verbindung über ";
// Once per run in a Wayland session while the lines go as keystrokes.
inline constexpr const char* WaylandKeystrokes =
    "Wayland-Sitzung: Tastatureingaben erreichen nur X11-Fenster. "
    "Die Browser-Erweiterung arbeitet überall.";
inline constexpr const char* ClipboardNotFetched = "Zwischenablage nicht abgeholt : ";
inline constexpr const char* BatchLinesText = "%s Zeilen";
// A file delivered again into the form that holds its start already.
inline constexpr const char* LinesAlreadyDelivered = "%s Zeilen bereits übertragen, übersprungen";

// Progress of a download in the status bar and the tray tooltip.
inline constexpr const char* ReceivingFile = "Empfange %s: %s Zeilen";
inline constexpr const char* ReceivingBarcodes = "Übertragung: %s Barcodes";

// The OPN-2001 keeps its barcodes: what it holds now is not what was delivered.
inline constexpr const char* OpnNotClearedChanged =
    "MDE nicht gelöscht: der Inhalt hat sich während der Übertragung geändert.";
inline constexpr const char* OpnNotClearedUnread =
    "MDE nicht gelöscht: der Inhalt konnte nicht erneut gelesen werden.";

// The "Verlauf" window.
inline constexpr const char* History = "Verlauf";
inline constexpr const char* HistoryTime = "Zeit";
inline constexpr const char* HistorySource = "Gerät / Datei";
inline constexpr const char* HistoryTarget = "Ziel";
inline constexpr const char* HistoryLines = "Zeilen";
inline constexpr const char* HistoryResult = "Ergebnis";
inline constexpr const char* HistoryIncomplete = "unvollständig";
inline constexpr const char* HistoryDamaged = "beschädigt";
inline constexpr const char* HistoryPasted = "eingefügt in ";
inline constexpr const char* HistoryExported = "exportiert nach ";
inline constexpr const char* HistoryFailed = "fehlgeschlagen: ";
inline constexpr const char* HistoryResend = "Erneut senden";
inline constexpr const char* HistorySaveAs = "Speichern unter…";
inline constexpr const char* HistoryOpenFolder = "Ordner öffnen";
inline constexpr const char* HistoryClose = "Schließen";
inline constexpr const char* HistoryBusy =
    "Während einer Übertragung kann nicht erneut gesendet werden. Bitte warten.";
inline constexpr const char* TargetCsv = "CSV";
inline constexpr const char* TargetUgs = "UGS";
inline constexpr const char* TargetBarcodeCsv = "Barcode-CSV";

// The transfer journal could not be written; the transfer itself goes on.
inline constexpr const char* JournalWriteError =
    "Fehler beim Schreiben des Verlaufs, die Übertragung läuft weiter : ";
}  // namespace txt

// Protocol trace lines in the log list (setting `debug`).
namespace trace {
inline constexpr const char* PollAck = "Poll -> ACK";
inline constexpr const char* PollNak = "Poll -> NAK";
inline constexpr const char* PollError = "Poll -> Error";
inline constexpr const char* ReceiveAck = "Receive -> ACK";
inline constexpr const char* ReceiveNak = "Receive -> NAK";
inline constexpr const char* ReceiveError = "Receive -> Error";
inline constexpr const char* ReadLineOk = "ReadLine -> ok";
inline constexpr const char* ControlByte = "??????? ";
inline constexpr const char* FileinfoOk = "Fileinfo -> OK";
inline constexpr const char* FileinfoError = "Fileinfo -> Error";
inline constexpr const char* FileinfoBadNumber = "Fileinfo -> Error: no number in ";
}  // namespace trace

// Replaces the first "%s" of a catalogue text, as the original's Format did.
QString FormatS(const QString& pattern, const QString& arg);

}  // namespace vt
