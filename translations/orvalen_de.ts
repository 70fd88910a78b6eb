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
        <source>N</source>
        <translation>N</translation>
    </message>
    <message>
        <source>The option --jobs takes a whole number of at least 1, not &quot;%1&quot;.</source>
        <translation>Die Option --jobs erwartet eine ganze Zahl ab 1, nicht „%1“.</translation>
    </message>
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
      A file whose content differs is reported as
      &quot;Checksums does not match&quot; when it was modified after the checksums
      file (its modification time is later, allowing 2 s for coarse
      time stamps, or it changed while it was read), and as
      &quot;Checksums does not match, not modified since the checksums file
      was written&quot; otherwise: possibly damaged. A missing file and a new
      file with the same content are one line &quot;Moved from &quot;oldpath&quot;&quot;
      on the new file&apos;s place.
  update SOURCE_DIR CHECKSUMS_FILE
      Bring CHECKSUMS_FILE up to date: hash new files and files modified
      after it, drop missing ones, keep every other record without
      reading its file. A possibly damaged file keeps its stored digest,
      is named on standard error, and the exit code is 1. Prints the
      digest like create; without CHECKSUMS_FILE it is create.
  digest [--algorithm NAME] FILE...
      Print &quot;digest  path&quot; for each file, as sha256sum does.

Not guarded: files and directories whose names start with a dot,
and everything below such a directory, are left out of the tree.

Ignore file: SOURCE_DIR/.orvalenignore leaves out more, one pattern a
line as in .gitignore (*, ?, [...] within a name, ** across
directories, a leading or inner / anchors at SOURCE_DIR, a closing /
matches directories only, ! takes back, # starts a comment):
    *.tmp
    /cache/
    !keep.tmp
An excluded directory is not entered; verify does not report records
the rules exclude. The ignore file is a dot name: not guarded itself.

Paths are printed as they are, with these exceptions. digest, as
sha256sum: a backslash is written \\, a line feed \n, a carriage
return \r. verify: the same, and a tab \t, every other byte below
0x20 and the byte 0x7f as \xhh (two lowercase hex digits). A line
whose path holds any of these starts with a backslash.

Reference time: create and update set the checksums file&apos;s
modification time to the moment their scan began. A copy of the
checksums file that does not keep that time (cp without -p) moves
the reference, and every mismatch then counts as possible damage.

Unreadable files and directories (a failing disk&apos;s Input/output error,
a wrong chmod) do not end a run; each is named once with the system&apos;s
reason. verify reports &quot;path&lt;TAB&gt;Cannot read file: &lt;reason&gt;&quot; or
&quot;Cannot read directory: &lt;reason&gt;&quot; in its place; the records below
such a directory count as not checked, not as missing. create and
update name each on standard error and keep the record the replaced
checksums file held for it (below a directory: every record), which
was not read again. digest names the reason and goes on. The desktop
application still stops at the first read error.

Progress is shown on standard error when it is a terminal.

Exit codes:
  0    success; for verify: no discrepancy (with --damage-only: no
       possibly damaged file); for update: no file held back
  1    verify found discrepancies, unreadable files among them (with
       --damage-only: a possibly damaged or unreadable file); update
       held back a possibly damaged file; create or update could not
       read a file or directory
  2    error: bad arguments, missing or unreadable directory, checksums
       file that does not exist, cannot be read or written, or is no
       checksums file, an ignore file that cannot be read or holds a
       malformed line (named with its line number), no resources; for
       digest, a file that cannot be read
  130  interrupted by SIGINT, SIGTERM or SIGHUP; an existing checksums
       file is left as it was. A signal that comes once create has
       begun to write the new checksums file does not stop it: the
       file is completed, its digest printed, and the exit code is 0</source>
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
      Eine Datei mit anderem Inhalt wird als „Prüfsumme stimmt nicht
      überein“ gemeldet, wenn sie nach der Prüfsummendatei geändert wurde
      (ihre Änderungszeit ist später, mit 2 s Spielraum für grobe
      Zeitstempel, oder sie änderte sich beim Lesen), sonst als „Prüfsumme
      stimmt nicht überein, seit dem Schreiben der Prüfsummendatei nicht
      geändert“: möglicherweise beschädigt. Eine fehlende und eine neue
      Datei mit gleichem Inhalt sind eine Zeile „Verschoben von „alter Pfad““
      an der Stelle der neuen Datei.
  update QUELLVERZEICHNIS PRÜFSUMMENDATEI
      PRÜFSUMMENDATEI auf den neuesten Stand bringen: neue Dateien und
      danach geänderte Dateien hashen, fehlende streichen, jeden anderen
      Eintrag behalten, ohne seine Datei zu lesen. Eine möglicherweise
      beschädigte Datei behält ihre gespeicherte Prüfsumme, wird auf der
      Standardfehlerausgabe genannt, und der Exit-Code ist 1. Gibt die
      Prüfsumme aus wie create; ohne PRÜFSUMMENDATEI ist es create.
  digest [--algorithm NAME] DATEI...
      Für jede Datei „Prüfsumme  Pfad“ ausgeben, wie sha256sum.

Nicht geschützt: Dateien und Verzeichnisse, deren Name mit einem Punkt
beginnt, und alles unter einem solchen Verzeichnis bleiben außen vor.

Ausschlussdatei: QUELLVERZEICHNIS/.orvalenignore lässt mehr aus, ein Muster
je Zeile wie in .gitignore (*, ?, [...] innerhalb eines Namens, ** über
Verzeichnisse hinweg, ein / am Anfang oder in der Mitte verankert am
QUELLVERZEICHNIS, ein / am Ende passt nur auf Verzeichnisse, ! nimmt
zurück, # beginnt einen Kommentar):
    *.tmp
    /cache/
    !keep.tmp
Ein ausgeschlossenes Verzeichnis wird nicht betreten; verify meldet keine
Einträge, die die Regeln ausschließen. Die Ausschlussdatei ist ein
Punktname: selbst nicht geschützt.

Pfade werden ausgegeben, wie sie sind, mit diesen Ausnahmen. digest, wie
sha256sum: ein Backslash wird als \\ geschrieben, ein Zeilenvorschub als
\n, ein Wagenrücklauf als \r. verify: ebenso, dazu ein Tab als \t, jedes
andere Byte unter 0x20 und das Byte 0x7f als \xhh (zwei kleine
Hex-Ziffern). Eine Zeile, deren Pfad eines davon enthält, beginnt mit
einem Backslash.

Bezugszeit: create und update setzen die Änderungszeit der
Prüfsummendatei auf den Beginn ihres Durchlaufs. Eine Kopie der
Prüfsummendatei, die diese Zeit nicht behält (cp ohne -p), verschiebt
den Bezug, und jede Abweichung gilt dann als mögliche Beschädigung.

Unlesbare Dateien und Verzeichnisse (der Ein-/Ausgabefehler einer
sterbenden Platte, ein falsches chmod) beenden keinen Lauf; jedes wird
einmal mit dem Grund des Systems genannt. verify meldet
„Pfad&lt;TAB&gt;Datei nicht lesbar: &lt;Grund&gt;“ oder „Verzeichnis nicht lesbar:
&lt;Grund&gt;“ an seiner Stelle; die Einträge unter einem solchen Verzeichnis
zählen als nicht geprüft, nicht als fehlend. create und update nennen
jedes auf der Standardfehlerausgabe und behalten den Eintrag, den die
ersetzte Prüfsummendatei dafür hatte (unter einem Verzeichnis: jeden),
ohne ihn erneut zu lesen. digest nennt den Grund und macht weiter. Die
Desktop-Anwendung hält weiterhin beim ersten Lesefehler an.

Der Fortschritt erscheint auf der Standardfehlerausgabe, wenn sie ein
Terminal ist.

Exit-Codes:
  0    Erfolg; bei verify: keine Abweichung (mit --damage-only: keine
       möglicherweise beschädigte Datei); bei update: keine Datei
       zurückgehalten
  1    verify hat Abweichungen gefunden, unlesbare Dateien darunter
       (mit --damage-only: eine möglicherweise beschädigte oder unlesbare
       Datei); update hat eine möglicherweise beschädigte Datei
       zurückgehalten; create oder update konnte eine Datei oder ein
       Verzeichnis nicht lesen
  2    Fehler: falsche Argumente, fehlendes oder unlesbares Verzeichnis,
       Prüfsummendatei fehlt, ist nicht les- oder schreibbar oder keine
       Prüfsummendatei, eine Ausschlussdatei nicht lesbar oder mit einer
       fehlerhaften Zeile (mit ihrer Zeilennummer genannt), keine
       Ressourcen; bei digest eine nicht lesbare Datei
  130  durch SIGINT, SIGTERM oder SIGHUP unterbrochen; eine vorhandene
       Prüfsummendatei bleibt unverändert. Ein Signal, das kommt, wenn
       create schon die neue Prüfsummendatei schreibt, hält es nicht auf:
       die Datei wird fertiggestellt, ihre Prüfsumme ausgegeben, und der
       Exit-Code ist 0</translation>
    </message>
    <message>
        <source>How many files create, verify and update hash at once (N at least 1; more than %1 counts as %1; default: chosen from the machine and its disks; fewer where threads, descriptors or address space run short; 1: one file after another).</source>
        <translation>Wie viele Dateien create, verify und update gleichzeitig hashen (N mindestens 1; mehr als %1 zählt als %1; Vorgabe: nach Rechner und Datenträgern gewählt; weniger, wo Threads, Dateideskriptoren oder Adressraum knapp werden; 1: eine Datei nach der anderen).</translation>
    </message>
    <message>
        <source>verify: print only possibly damaged and unreadable files, and exit with 1 only for them (edits, new, missing and moved files are not reported).</source>
        <translation>verify: nur möglicherweise beschädigte und unlesbare Dateien ausgeben und nur ihretwegen mit 1 enden (Änderungen, neue, fehlende und verschobene Dateien werden nicht gemeldet).</translation>
    </message>
    <message>
        <source>create, verify and update: text (default) or json. json: standard output is JSON Lines, one object a line, in UTF-8; verify writes one object for each discrepancy, and every command ends with a summary object.</source>
        <translation>create, verify und update: text (Vorgabe) oder json. json: die Standardausgabe ist JSON Lines, ein Objekt je Zeile, in UTF-8; verify schreibt ein Objekt je Abweichung, und jeder Befehl endet mit einem Zusammenfassungsobjekt.</translation>
    </message>
    <message>
        <source>FORMAT</source>
        <translation>FORMAT</translation>
    </message>
    <message>
        <source>verify: read only the files of slice K of N (K from 1 to N, or auto: the days since 1970-01-01 UTC modulo N, plus one, so that with N a multiple of 7 each slice falls on the same weekday, or next: the slice after the last one a completed run read, as --state keeps it) and new files; names are still compared for the whole tree.</source>
        <translation>verify: nur die Dateien des Teils K von N (K von 1 bis N, oder auto: die Tage seit 1970-01-01 UTC modulo N, plus eins, sodass bei N als Vielfachem von 7 jeder Teil auf denselben Wochentag fällt, oder next: der Teil nach dem letzten, den ein abgeschlossener Lauf gelesen hat, wie --state ihn festhält) und neue Dateien lesen; die Namen werden weiterhin für den ganzen Baum verglichen.</translation>
    </message>
    <message>
        <source>K/N</source>
        <translation>K/N</translation>
    </message>
    <message>
        <source>create, verify, update or digest.</source>
        <translation>create, verify, update oder digest.</translation>
    </message>
    <message>
        <source>The option --damage-only belongs to the verify command only.</source>
        <translation>Die Option --damage-only gehört nur zum Befehl verify.</translation>
    </message>
    <message>
        <source>The option --subset belongs to the verify command only.</source>
        <translation>Die Option --subset gehört nur zum Befehl verify.</translation>
    </message>
    <message>
        <source>The option --format takes text or json, not &quot;%1&quot;.</source>
        <translation>Die Option --format nimmt text oder json, nicht „%1“.</translation>
    </message>
    <message>
        <source>The option --format belongs to the create, verify and update commands only.</source>
        <translation>Die Option --format gehört nur zu den Befehlen create, verify und update.</translation>
    </message>
    <message>
        <source>The option --subset takes K/N, N at least 1 and K from 1 to N, auto or next, not &quot;%1&quot;.</source>
        <translation>Die Option --subset nimmt K/N, N mindestens 1 und K von 1 bis N, auto oder next, nicht „%1“.</translation>
    </message>
    <message>
        <source>verify --subset next/N: the file that keeps the last slice read, one line &quot;K/N&quot;; made where missing, and written (atomically) only when the run completes with exit code 0 or 1. Other runs ignore it.</source>
        <translation>verify --subset next/N: die Datei, die den zuletzt gelesenen Teil festhält, eine Zeile „K/N“; wird angelegt, wo sie fehlt, und nur (atomar) geschrieben, wenn der Lauf mit Exit-Code 0 oder 1 abschließt. Andere Läufe übergehen sie.</translation>
    </message>
    <message>
        <source>FILE</source>
        <translation>DATEI</translation>
    </message>
    <message>
        <source>The option --state belongs to the verify command only.</source>
        <translation>Die Option --state gehört nur zum Befehl verify.</translation>
    </message>
    <message>
        <source>The option --subset next/N needs --state FILE.</source>
        <translation>Die Option --subset next/N braucht --state DATEI.</translation>
    </message>
    <message>
        <source>create, verify and update: write the run&apos;s figures to FILE in the Prometheus text format, for node_exporter&apos;s textfile collector (FILE ending in .prom), whatever the outcome. A FILE that cannot be written turns exit code 0 into 2.</source>
        <translation>create, verify und update: die Kennzahlen des Laufs im Textformat von Prometheus in DATEI schreiben, für den Textfile-Collector von node_exporter (DATEI endet auf .prom), wie auch immer der Lauf ausgeht. Eine DATEI, die nicht geschrieben werden kann, macht aus Exit-Code 0 eine 2.</translation>
    </message>
    <message>
        <source>The value of the name label of the --metrics figures.</source>
        <translation>Der Wert des Labels name der Kennzahlen von --metrics.</translation>
    </message>
    <message>
        <source>digest: read each FILE (&quot;-&quot; or none: standard input) as a list of digests, as sha256sum -c does, and check the files it names: lines &quot;digest  path&quot;, &quot;digest *path&quot; or &quot;TAG (path) = digest&quot;, the algorithm from TAG or the digest&apos;s length unless --algorithm is given. Prints &quot;path: OK&quot;, &quot;path: FAILED&quot; or &quot;path: FAILED open or read&quot; in list order (-q: no OK lines), then warnings on standard error; --jobs applies. Exit code 1 when a file failed, 2 when a list cannot be read or holds no usable line.</source>
        <translation>digest: jede DATEI (&quot;-&quot; oder keine: Standardeingabe) als Liste von Prüfsummen lesen, wie sha256sum -c, und die darin genannten Dateien prüfen: Zeilen &quot;digest  path&quot;, &quot;digest *path&quot; oder &quot;TAG (path) = digest&quot;, der Algorithmus nach TAG oder der Länge der Prüfsumme, außer mit --algorithm. Gibt &quot;path: OK&quot;, &quot;path: FAILED&quot; oder &quot;path: FAILED open or read&quot; in der Reihenfolge der Liste aus (-q: ohne OK-Zeilen), dann Warnungen auf der Standardfehlerausgabe; --jobs gilt. Exit-Code 1, wenn eine Datei nicht stimmt, 2, wenn eine Liste nicht gelesen werden kann oder keine brauchbare Zeile enthält.</translation>
    </message>
    <message>
        <source>The option --metrics-label needs --metrics.</source>
        <translation>Die Option --metrics-label braucht --metrics.</translation>
    </message>
    <message>
        <source>The option --metrics needs a file name.</source>
        <translation>Die Option --metrics braucht einen Dateinamen.</translation>
    </message>
    <message>
        <source>The option --check belongs to the digest command only.</source>
        <translation>Die Option --check gehört nur zum Befehl digest.</translation>
    </message>
    <message>
        <source>The option --metrics belongs to the create, verify and update commands only.</source>
        <translation>Die Option --metrics gehört nur zu den Befehlen create, verify und update.</translation>
    </message>
    <message>
        <source>The option --jobs belongs to the create, verify and update commands and to digest --check only.</source>
        <translation>Die Option --jobs gehört nur zu den Befehlen create, verify und update und zu digest --check.</translation>
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
    <message>
        <source>Not a regular file</source>
        <translation>Keine reguläre Datei</translation>
    </message>
    <message>
        <source>Cannot read checksums file &quot;%1&quot;: %2.</source>
        <translation>Die Prüfsummendatei „%1“ kann nicht gelesen werden: %2.</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not a checksums file.</source>
        <translation>„%1“ ist keine Prüfsummendatei.</translation>
    </message>
    <message>
        <source>File &quot;%1&quot; changed while it was read.</source>
        <translation>Die Datei „%1“ hat sich geändert, während sie gelesen wurde.</translation>
    </message>
    <message>
        <source>Checksums does not match, not modified since the checksums file was written</source>
        <translation>Prüfsumme stimmt nicht überein, seit dem Schreiben der Prüfsummendatei nicht geändert</translation>
    </message>
    <message>
        <source>, %1 possibly damaged</source>
        <translation>, %1 möglicherweise beschädigt</translation>
    </message>
    <message>
        <source>, %1 moved</source>
        <translation>, %1 verschoben</translation>
    </message>
    <message>
        <source>Slice %1/%2 read: %3 files</source>
        <translation>Teil %1/%2 gelesen: %3 Dateien</translation>
    </message>
    <message>
        <source>%1 files: %2 added, %3 rehashed, %4 removed, %5 kept, %6 held back</source>
        <translation>%1 Dateien: %2 hinzugefügt, %3 neu gehasht, %4 entfernt, %5 behalten, %6 zurückgehalten</translation>
    </message>
    <message>
        <source>Cannot write checksums file &quot;%1&quot;: %2.</source>
        <translation>Die Prüfsummendatei „%1“ kann nicht geschrieben werden: %2.</translation>
    </message>
    <message>
        <source>Checksums file &quot;%1&quot; is not where it was written: its folder was moved during the run.</source>
        <translation>Die Prüfsummendatei „%1“ ist nicht dort, wo sie geschrieben wurde: ihr Ordner wurde während des Laufs verschoben.</translation>
    </message>
    <message>
        <source>Checksums file was written to &quot;%1&quot;: its folder was moved during the run.</source>
        <translation>Die Prüfsummendatei wurde nach „%1“ geschrieben: ihr Ordner wurde während des Laufs verschoben.</translation>
    </message>
    <message>
        <source>The file system did not keep the time of checksums file &quot;%1&quot;: files edited during this run cannot be told from damaged ones.</source>
        <translation>Das Dateisystem hat die Zeit der Prüfsummendatei „%1“ nicht behalten: Dateien, die während dieses Laufs bearbeitet wurden, sind von beschädigten nicht zu unterscheiden.</translation>
    </message>
    <message>
        <source>Moved from &quot;%1&quot;</source>
        <translation>Verschoben von „%1“</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not a state file of --subset next/N.</source>
        <translation>„%1“ ist keine Zustandsdatei von --subset next/N.</translation>
    </message>
    <message>
        <source>Cannot keep state file &quot;%1&quot;: %2.</source>
        <translation>Zustandsdatei „%1“ kann nicht geführt werden: %2.</translation>
    </message>
    <message>
        <source>%1 unreadable, %2 records kept from the checksums file replaced</source>
        <translation>%1 unlesbar, %2 Einträge aus der ersetzten Prüfsummendatei behalten</translation>
    </message>
    <message>
        <source>, %1 unreadable</source>
        <translation>, %1 unlesbar</translation>
    </message>
    <message>
        <source>, %1 not checked</source>
        <translation>, %1 nicht geprüft</translation>
    </message>
    <message>
        <source>Cannot read file &quot;%1&quot;: %2.</source>
        <translation>Die Datei „%1“ kann nicht gelesen werden: %2.</translation>
    </message>
    <message>
        <source>Cannot read file: %1</source>
        <translation>Datei nicht lesbar: %1</translation>
    </message>
    <message>
        <source>Cannot read directory: %1</source>
        <translation>Verzeichnis nicht lesbar: %1</translation>
    </message>
    <message>
        <source>Cannot read directory &quot;%1&quot;: %2.</source>
        <translation>Das Verzeichnis „%1“ kann nicht gelesen werden: %2.</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>Guard a directory tree against silent change: record the SHA-256 digest of every file in a checksums file, and later name each file that changed, appeared or went missing. Without options it opens its window; it also takes the options every Qt application understands (-platform, -style...). orvalen-cli does the same jobs from a terminal.</source>
        <translation>Schützt einen Verzeichnisbaum vor unbemerkten Änderungen: hält die SHA-256-Prüfsumme jeder Datei in einer Prüfsummendatei fest und nennt später jede Datei, die sich geändert hat, neu ist oder fehlt. Ohne Optionen öffnet es sein Fenster; es versteht auch die Optionen jeder Qt-Anwendung (-platform, -style...). orvalen-cli erledigt dieselben Aufgaben im Terminal.</translation>
    </message>
</context>
<context>
    <name>ConsoleReport</name>
    <message>
        <source>%1/%2 files  %3 MB/s  </source>
        <translation>%1/%2 Dateien  %3 MB/s  </translation>
    </message>
    <message>
        <source>%1 files  %2 MB/s  </source>
        <translation>%1 Dateien  %2 MB/s  </translation>
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
    <name>DigestCheck</name>
    <message>
        <source>standard input</source>
        <translation>Standardeingabe</translation>
    </message>
    <message>
        <source>%1: no properly formatted checksum lines found</source>
        <translation>%1: keine korrekt formatierten Prüfsummenzeilen gefunden</translation>
    </message>
    <message>
        <source>WARNING: 1 line is improperly formatted</source>
        <translation>WARNUNG: 1 Zeile ist nicht korrekt formatiert</translation>
    </message>
    <message>
        <source>WARNING: %1 lines are improperly formatted</source>
        <translation>WARNUNG: %1 Zeilen sind nicht korrekt formatiert</translation>
    </message>
    <message>
        <source>WARNING: 1 listed file could not be read</source>
        <translation>WARNUNG: 1 aufgeführte Datei konnte nicht gelesen werden</translation>
    </message>
    <message>
        <source>WARNING: %1 listed files could not be read</source>
        <translation>WARNUNG: %1 aufgeführte Dateien konnten nicht gelesen werden</translation>
    </message>
    <message>
        <source>WARNING: 1 computed checksum did NOT match</source>
        <translation>WARNUNG: 1 berechnete Prüfsumme stimmte NICHT überein</translation>
    </message>
    <message>
        <source>WARNING: %1 computed checksums did NOT match</source>
        <translation>WARNUNG: %1 berechnete Prüfsummen stimmten NICHT überein</translation>
    </message>
    <message>
        <source>Not a regular file</source>
        <translation>Keine reguläre Datei</translation>
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
    <message>
        <source>not enough memory</source>
        <translation>nicht genug Arbeitsspeicher</translation>
    </message>
    <message>
        <source>Not enough system resources to hash the tree: %1.</source>
        <translation>Nicht genug Systemressourcen, um den Verzeichnisbaum zu prüfen: %1.</translation>
    </message>
    <message>
        <source>Cannot read file &quot;%1&quot;.</source>
        <translation>Die Datei &quot;%1&quot; kann nicht gelesen werden.</translation>
    </message>
    <message>
        <source>File name &quot;%1&quot; contains a line feed and cannot be stored in a checksums file.</source>
        <translation>Der Dateiname &quot;%1&quot; enthält einen Zeilenvorschub und kann nicht in einer Prüfsummendatei gespeichert werden.</translation>
    </message>
</context>
<context>
    <name>IgnoreRules</name>
    <message>
        <source>named classes such as [:alpha:] are not supported</source>
        <translation>benannte Klassen wie [:alpha:] werden nicht unterstützt</translation>
    </message>
    <message>
        <source>a range in &quot;[...]&quot; runs backwards</source>
        <translation>ein Bereich in „[...]“ läuft rückwärts</translation>
    </message>
    <message>
        <source>&quot;[&quot; is not closed</source>
        <translation>„[“ wird nicht geschlossen</translation>
    </message>
    <message>
        <source>&quot;!&quot; without a pattern</source>
        <translation>„!“ ohne Muster</translation>
    </message>
    <message>
        <source>a backslash ends the line</source>
        <translation>ein umgekehrter Schrägstrich beendet die Zeile</translation>
    </message>
    <message>
        <source>nothing but slashes</source>
        <translation>nur Schrägstriche</translation>
    </message>
    <message>
        <source>two slashes in a row</source>
        <translation>zwei Schrägstriche hintereinander</translation>
    </message>
    <message>
        <source>a NUL byte, which no name holds</source>
        <translation>ein NUL-Byte, das kein Name enthält</translation>
    </message>
    <message>
        <source>&quot;.&quot; and &quot;..&quot; never match a name in the tree</source>
        <translation>„.“ und „..“ passen nie auf einen Namen im Baum</translation>
    </message>
    <message>
        <source>Malformed pattern in &quot;%1&quot;, line %2: %3.</source>
        <translation>Fehlerhaftes Muster in „%1“, Zeile %2: %3.</translation>
    </message>
    <message>
        <source>Cannot read the ignore file &quot;%1&quot;: %2.</source>
        <translation>Die Ausschlussdatei „%1“ kann nicht gelesen werden: %2.</translation>
    </message>
    <message>
        <source>The ignore file &quot;%1&quot; is not a regular file.</source>
        <translation>Die Ausschlussdatei „%1“ ist keine reguläre Datei.</translation>
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
    <message>
        <source>Cannot write metrics file &quot;%1&quot;: %2.</source>
        <translation>Kennzahlendatei „%1“ kann nicht geschrieben werden: %2.</translation>
    </message>
</context>
</TS>
