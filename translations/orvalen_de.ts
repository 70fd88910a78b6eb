<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>CheckDBResult</name>
    <message>
        <source>Check results</source>
        <translation>Prüfergebnisse</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Copy report</source>
        <translation>Bericht kopieren</translation>
    </message>
    <message>
        <source>Copy to clipboard</source>
        <translation>In die Zwischenablage kopieren</translation>
    </message>
    <message>
        <source>Following errors were found:</source>
        <translation>Folgende Fehler wurden gefunden:</translation>
    </message>
    <message>
        <source>Check result: no errors</source>
        <translation>Prüfergebnis: keine Fehler</translation>
    </message>
</context>
<context>
    <name>CheckDBWindow</name>
    <message>
        <source>Verify checksums</source>
        <translation>Prüfsummen überprüfen</translation>
    </message>
</context>
<context>
    <name>CheckErrTable</name>
    <message>
        <source>File</source>
        <translation>Datei</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
</context>
<context>
    <name>ChooseDirWidget</name>
    <message>
        <source>Choose directory</source>
        <translation>Verzeichnis wählen</translation>
    </message>
    <message>
        <source>Choose file</source>
        <translation>Datei wählen</translation>
    </message>
</context>
<context>
    <name>CreateDBWindow</name>
    <message>
        <source>Create checksums</source>
        <translation>Prüfsummen erstellen</translation>
    </message>
</context>
<context>
    <name>CreateHashWindow</name>
    <message>
        <source>Hash calculation</source>
        <translation>Prüfsummenberechnung</translation>
    </message>
    <message>
        <source>Processing </source>
        <translation>Verarbeite </translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Abort</source>
        <translation>Abbruch</translation>
    </message>
    <message>
        <source>Interrupted by user</source>
        <translation>Vom Benutzer abgebrochen</translation>
    </message>
</context>
<context>
    <name>CreationDBResult</name>
    <message>
        <source>Checksums file has been created successfully</source>
        <translation>Die Prüfsummendatei wurde erfolgreich erstellt</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
</context>
<context>
    <name>DBHashWidget</name>
    <message>
        <source>Copy</source>
        <translation>Kopieren</translation>
    </message>
    <message>
        <source>Copy to clipboard</source>
        <translation>In die Zwischenablage kopieren</translation>
    </message>
    <message>
        <source>File:</source>
        <translation>Datei:</translation>
    </message>
    <message>
        <source>Hash:</source>
        <translation>Prüfsumme:</translation>
    </message>
</context>
<context>
    <name>DBParamWindow</name>
    <message>
        <source>Source directory</source>
        <translation>Quellverzeichnis</translation>
    </message>
    <message>
        <source>Checksums file</source>
        <translation>Prüfsummendatei</translation>
    </message>
    <message>
        <source>All files (*);;SHA256 (*.sha256)</source>
        <translation>Alle Dateien (*);;SHA256 (*.sha256)</translation>
    </message>
    <message>
        <source>SHA256 (*.sha256)</source>
        <translation>SHA256 (*.sha256)</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>HashTools</name>
    <message>
        <source>Unsupported hash algorithm &quot;%1&quot;.</source>
        <translation>Nicht unterstützter Hash-Algorithmus &quot;%1&quot;.</translation>
    </message>
    <message>
        <source>Cannot read directory &quot;%1&quot;.</source>
        <translation>Das Verzeichnis &quot;%1&quot; kann nicht gelesen werden.</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Create checksums..</source>
        <translation>Prüfsummen erstellen..</translation>
    </message>
    <message>
        <source>Verify checksums..</source>
        <translation>Prüfsummen überprüfen..</translation>
    </message>
    <message>
        <source>About..</source>
        <translation>Über..</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Über Orvalen</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Directory is not exists</source>
        <translation>Verzeichnis existiert nicht</translation>
    </message>
    <message>
        <source>File name is not specified</source>
        <translation>Dateiname ist nicht angegeben</translation>
    </message>
    <message>
        <source>Checksums file creation error</source>
        <translation>Fehler beim Erstellen der Prüfsummendatei</translation>
    </message>
    <message>
        <source>Checksums file load error</source>
        <translation>Fehler beim Laden der Prüfsummendatei</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Checksums does not match</source>
        <translation>Prüfsumme stimmt nicht überein</translation>
    </message>
    <message>
        <source>New file</source>
        <translation>Neue Datei</translation>
    </message>
    <message>
        <source>File not found</source>
        <translation>Datei nicht gefunden</translation>
    </message>
    <message>
        <source>Unknown</source>
        <translation>Unbekannt</translation>
    </message>
</context>
</TS>
