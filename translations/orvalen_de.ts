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
    <name>CliArguments</name>
    <message>
        <source>Checksums of a directory tree, from a terminal.

Commands:
  create SOURCE_DIR CHECKSUMS_FILE
      Hash the files below SOURCE_DIR with SHA-256, write CHECKSUMS_FILE
      and print the checksums file&apos;s own digest on standard output.
  verify SOURCE_DIR CHECKSUMS_FILE
      Hash the tree again and compare it with CHECKSUMS_FILE. Every
      discrepancy is one line on standard output: path, tab, message;
      the checksums file&apos;s digest and a summary go to standard error.
  digest [--algorithm NAME] FILE...
      Print &quot;digest  path&quot; for each file, as sha256sum does.

Not guarded: files and directories whose names start with a dot,
and everything below such a directory, are left out of the tree.

Paths are printed as they are, with these exceptions. digest, as
sha256sum: a backslash is written \\, a line feed \n, a carriage
return \r. verify: the same, and a tab \t, every other byte below
0x20 and the byte 0x7f as \xhh (two lowercase hex digits). A line
whose path holds any of these starts with a backslash.

Progress is shown on standard error when it is a terminal.

Exit codes:
  0    success; for verify: no discrepancy
  1    verify found discrepancies
  2    error: bad arguments, missing directory, checksums file that
       does not exist or cannot be read or written, a file that
       cannot be hashed
  130  interrupted by SIGINT or SIGTERM; an existing checksums file
       is left as it was</source>
        <translation>Prüfsummen eines Verzeichnisbaums, im Terminal.

Befehle:
  create QUELLVERZEICHNIS PRÜFSUMMENDATEI
      Die Dateien unter QUELLVERZEICHNIS mit SHA-256 hashen, PRÜFSUMMENDATEI
      schreiben und deren eigene Prüfsumme auf der Standardausgabe ausgeben.
  verify QUELLVERZEICHNIS PRÜFSUMMENDATEI
      Den Baum erneut hashen und mit PRÜFSUMMENDATEI vergleichen. Jede
      Abweichung ist eine Zeile auf der Standardausgabe: Pfad, Tab, Meldung;
      die Prüfsumme der Prüfsummendatei und eine Zusammenfassung gehen auf
      die Standardfehlerausgabe.
  digest [--algorithm NAME] DATEI...
      Für jede Datei „Prüfsumme  Pfad“ ausgeben, wie sha256sum.

Nicht geschützt: Dateien und Verzeichnisse, deren Name mit einem Punkt
beginnt, und alles unter einem solchen Verzeichnis bleiben außen vor.

Pfade werden ausgegeben, wie sie sind, mit diesen Ausnahmen. digest, wie
sha256sum: ein Backslash wird als \\ geschrieben, ein Zeilenvorschub als
\n, ein Wagenrücklauf als \r. verify: ebenso, dazu ein Tab als \t, jedes
andere Byte unter 0x20 und das Byte 0x7f als \xhh (zwei kleine
Hex-Ziffern). Eine Zeile, deren Pfad eines davon enthält, beginnt mit
einem Backslash.

Der Fortschritt erscheint auf der Standardfehlerausgabe, wenn sie ein
Terminal ist.

Exit-Codes:
  0    Erfolg; bei verify: keine Abweichung
  1    verify hat Abweichungen gefunden
  2    Fehler: falsche Argumente, fehlendes Verzeichnis, Prüfsummendatei
       fehlt oder ist nicht les- oder schreibbar, eine Datei nicht hashbar
  130  durch SIGINT oder SIGTERM unterbrochen; eine vorhandene
       Prüfsummendatei bleibt unverändert</translation>
    </message>
    <message>
        <source>Write nothing to standard error but error messages.</source>
        <translation>Auf die Standardfehlerausgabe nur Fehlermeldungen schreiben.</translation>
    </message>
    <message>
        <source>Algorithm of the digest command: md5, sha1, sha256, sha384 or sha512 (default: sha256).</source>
        <translation>Algorithmus des Befehls digest: md5, sha1, sha256, sha384 oder sha512 (Vorgabe: sha256).</translation>
    </message>
    <message>
        <source>NAME</source>
        <translation>NAME</translation>
    </message>
    <message>
        <source>create, verify or digest.</source>
        <translation>create, verify oder digest.</translation>
    </message>
    <message>
        <source>The command&apos;s paths.</source>
        <translation>Die Pfade des Befehls.</translation>
    </message>
    <message>
        <source>[arguments...]</source>
        <translation>[Argumente...]</translation>
    </message>
    <message>
        <source>No command given.</source>
        <translation>Kein Befehl angegeben.</translation>
    </message>
    <message>
        <source>The option --algorithm belongs to the digest command only.</source>
        <translation>Die Option --algorithm gehört nur zum Befehl digest.</translation>
    </message>
    <message>
        <source>The command %1 takes SOURCE_DIR and CHECKSUMS_FILE.</source>
        <translation>Der Befehl %1 erwartet QUELLVERZEICHNIS und PRÜFSUMMENDATEI.</translation>
    </message>
    <message>
        <source>Unknown algorithm &quot;%1&quot;.</source>
        <translation>Unbekannter Algorithmus „%1“.</translation>
    </message>
    <message>
        <source>The command digest needs at least one FILE.</source>
        <translation>Der Befehl digest braucht mindestens eine DATEI.</translation>
    </message>
    <message>
        <source>Unknown command &quot;%1&quot;.</source>
        <translation>Unbekannter Befehl „%1“.</translation>
    </message>
    <message>
        <source>How many files create and verify hash at once (N at least 1; default: chosen from the machine and its disks; 1: one file after another).</source>
        <translation>Wie viele Dateien create und verify gleichzeitig hashen (N mindestens 1; Vorgabe: nach Rechner und Datenträgern gewählt; 1: eine Datei nach der anderen).</translation>
    </message>
    <message>
        <source>N</source>
        <translation>N</translation>
    </message>
    <message>
        <source>The option --jobs belongs to the create and verify commands only.</source>
        <translation>Die Option --jobs gehört nur zu den Befehlen create und verify.</translation>
    </message>
    <message>
        <source>The option --jobs takes a whole number of at least 1, not &quot;%1&quot;.</source>
        <translation>Die Option --jobs erwartet eine ganze Zahl ab 1, nicht „%1“.</translation>
    </message>
</context>
<context>
    <name>CliJobs</name>
    <message>
        <source>Directory is not exists</source>
        <translation>Verzeichnis existiert nicht</translation>
    </message>
    <message>
        <source>File name is not specified</source>
        <translation>Dateiname ist nicht angegeben</translation>
    </message>
    <message>
        <source>Interrupted by user</source>
        <translation>Vom Benutzer abgebrochen</translation>
    </message>
    <message>
        <source>Checksums calculation did not finish</source>
        <translation>Die Berechnung der Prüfsummen wurde nicht abgeschlossen</translation>
    </message>
    <message>
        <source>Checksums file creation error</source>
        <translation>Fehler beim Erstellen der Prüfsummendatei</translation>
    </message>
    <message>
        <source>Checksums file load error</source>
        <translation>Fehler beim Laden der Prüfsummendatei</translation>
    </message>
    <message>
        <source>%1 files checked: %2 changed, %3 new, %4 missing</source>
        <translation>%1 Dateien geprüft: %2 geändert, %3 neu, %4 fehlen</translation>
    </message>
    <message>
        <source>Unknown algorithm &quot;%1&quot;.</source>
        <translation>Unbekannter Algorithmus „%1“.</translation>
    </message>
    <message>
        <source>Checksums file &quot;%1&quot; does not exist.</source>
        <translation>Die Prüfsummendatei „%1“ existiert nicht.</translation>
    </message>
</context>
<context>
    <name>ConsoleReport</name>
    <message>
        <source>%1/%2 files  %3 MB/s  </source>
        <translation>%1/%2 Dateien  %3 MB/s  </translation>
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
<context>
    <name>main</name>
    <message>
        <source>Try &quot;%1 --help&quot;.</source>
        <translation>Siehe „%1 --help“.</translation>
    </message>
    <message>
        <source>Cannot write to standard output</source>
        <translation>Die Standardausgabe kann nicht geschrieben werden</translation>
    </message>
</context>
</TS>
