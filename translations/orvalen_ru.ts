<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru">
<context>
    <name>CheckDBResult</name>
    <message>
        <source>Check results</source>
        <translation>Результаты проверки</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Закрыть</translation>
    </message>
    <message>
        <source>Copy report</source>
        <translation>Копировать отчёт</translation>
    </message>
    <message>
        <source>Copy to clipboard</source>
        <translation>Копировать в буфер обмена</translation>
    </message>
    <message>
        <source>Following errors were found:</source>
        <translation>Найдены следующие ошибки:</translation>
    </message>
    <message>
        <source>Check result: no errors</source>
        <translation>Результат проверки: ошибок нет</translation>
    </message>
</context>
<context>
    <name>CheckDBWindow</name>
    <message>
        <source>Verify checksums</source>
        <translation>Проверка контрольных сумм</translation>
    </message>
</context>
<context>
    <name>CheckErrTable</name>
    <message>
        <source>File</source>
        <translation>Файл</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Ошибка</translation>
    </message>
</context>
<context>
    <name>ChooseDirWidget</name>
    <message>
        <source>Choose directory</source>
        <translation>Выбор каталога</translation>
    </message>
    <message>
        <source>Choose file</source>
        <translation>Выбор файла</translation>
    </message>
</context>
<context>
    <name>CliArguments</name>
    <message>
        <source>Write nothing to standard error but error messages.</source>
        <translation>Писать в стандартный поток ошибок только сообщения об ошибках.</translation>
    </message>
    <message>
        <source>Algorithm of the digest command: md5, sha1, sha256, sha384 or sha512 (default: sha256).</source>
        <translation>Алгоритм команды digest: md5, sha1, sha256, sha384 или sha512 (по умолчанию sha256).</translation>
    </message>
    <message>
        <source>NAME</source>
        <translation>ИМЯ</translation>
    </message>
    <message>
        <source>The command&apos;s paths.</source>
        <translation>Пути для команды.</translation>
    </message>
    <message>
        <source>[arguments...]</source>
        <translation>[аргументы...]</translation>
    </message>
    <message>
        <source>No command given.</source>
        <translation>Команда не указана.</translation>
    </message>
    <message>
        <source>The option --algorithm belongs to the digest command only.</source>
        <translation>Параметр --algorithm относится только к команде digest.</translation>
    </message>
    <message>
        <source>The command %1 takes SOURCE_DIR and CHECKSUMS_FILE.</source>
        <translation>Команде %1 нужны КАТАЛОГ и ФАЙЛ_СУММ.</translation>
    </message>
    <message>
        <source>Unknown algorithm &quot;%1&quot;.</source>
        <translation>Неизвестный алгоритм «%1».</translation>
    </message>
    <message>
        <source>The command digest needs at least one FILE.</source>
        <translation>Команде digest нужен хотя бы один ФАЙЛ.</translation>
    </message>
    <message>
        <source>Unknown command &quot;%1&quot;.</source>
        <translation>Неизвестная команда «%1».</translation>
    </message>
    <message>
        <source>N</source>
        <translation>N</translation>
    </message>
    <message>
        <source>The option --jobs takes a whole number of at least 1, not &quot;%1&quot;.</source>
        <translation>Параметр --jobs принимает целое число не меньше 1, а не «%1».</translation>
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
        <translation>Контрольные суммы дерева каталогов, из терминала.

Команды:
  create КАТАЛОГ ФАЙЛ_СУММ
      Вычислить SHA-256 файлов в КАТАЛОГЕ, записать ФАЙЛ_СУММ
      и вывести собственную контрольную сумму этого файла в стандартный
      вывод.
  verify КАТАЛОГ ФАЙЛ_СУММ
      Снова вычислить суммы дерева и сравнить их с ФАЙЛОМ_СУММ. Каждое
      расхождение — одна строка в стандартном выводе: путь, табуляция,
      сообщение; контрольная сумма файла сумм и итоговая строка идут в
      стандартный поток ошибок.
      Файл с другим содержимым сообщается как «Контрольная сумма не
      совпадает», если он изменён после файла сумм (время изменения
      позже, с запасом 2 с на грубые отметки времени, или он менялся во
      время чтения), и как «Контрольная сумма не совпадает, файл не
      изменялся после записи файла сумм» иначе: возможно, повреждён.
      Отсутствующий и новый файл с одинаковым содержимым — одна строка
      «Перемещён из «старый путь»» на месте нового файла.
  update КАТАЛОГ ФАЙЛ_СУММ
      Обновить ФАЙЛ_СУММ: вычислить суммы новых файлов и файлов,
      изменённых после него, убрать отсутствующие, остальные записи
      сохранить, не читая их файлов. Возможно, повреждённый файл сохраняет
      записанную сумму, называется в стандартном потоке ошибок, и код
      завершения равен 1. Выводит сумму как create; без ФАЙЛА_СУММ это
      create.
  digest [--algorithm ИМЯ] ФАЙЛ...
      Вывести «сумма  путь» для каждого файла, как sha256sum.

Не охраняются: файлы и каталоги, имя которых начинается с точки, и всё,
что лежит в таком каталоге, — они не входят в дерево.

Файл исключений: КАТАЛОГ/.orvalenignore исключает больше, по одному
шаблону в строке, как в .gitignore (*, ?, [...] внутри имени, ** через
каталоги, / в начале или в середине привязывает к КАТАЛОГУ, / в конце
подходит только каталогам, ! отменяет исключение, # начинает
комментарий):
    *.tmp
    /cache/
    !keep.tmp
В исключённый каталог программа не заходит; verify не сообщает о
записях, которые правила исключают. Файл исключений — имя с точкой: сам
не охраняется.

Пути выводятся как есть, за такими исключениями. digest, как sha256sum:
обратная косая черта пишется как \\, перевод строки как \n, возврат
каретки как \r. verify: то же, а также табуляция как \t, любой другой
байт меньше 0x20 и байт 0x7f как \xhh (две строчные шестнадцатеричные
цифры). Строка, в пути которой есть такие символы, начинается с обратной
косой черты.

Опорное время: create и update ставят времени изменения файла сумм
момент начала своего прохода. Копия файла сумм, не сохранившая это
время (cp без -p), сдвигает опору, и тогда любое расхождение считается
возможным повреждением.

Нечитаемые файлы и каталоги (ошибка ввода-вывода умирающего диска,
неверный chmod) не прерывают работу; каждый называется один раз с
причиной от системы. verify сообщает «путь&lt;TAB&gt;Не удаётся прочитать
файл: &lt;причина&gt;» или «Не удаётся прочитать каталог: &lt;причина&gt;» на его
месте; записи под таким каталогом считаются непроверенными, а не
отсутствующими. create и update называют каждый в стандартном потоке
ошибок и сохраняют запись, которая была для него в заменяемом файле
сумм (под каталогом: все записи), не читая его снова. digest называет
причину и продолжает. Графическое приложение по-прежнему
останавливается на первой ошибке чтения.

Ход работы показывается в стандартном потоке ошибок, если это терминал.

Коды завершения:
  0    успех; для verify: расхождений нет (с --damage-only: нет возможно
       повреждённых файлов); для update: ни один файл не задержан
  1    verify нашла расхождения, в том числе нечитаемые файлы (с
       --damage-only: возможно, повреждённый или нечитаемый файл); update
       задержала возможно повреждённый файл; create или update не смогла
       прочитать файл или каталог
  2    ошибка: неверные аргументы, нет каталога или его нельзя прочитать,
       файла сумм нет, его нельзя прочитать или записать, или это не файл
       сумм, файл исключений нельзя прочитать или в нём ошибочная строка
       (называется с её номером), не хватает ресурсов; для digest: файл
       нельзя прочитать
  130  прервано сигналом SIGINT, SIGTERM или SIGHUP; существующий файл
       сумм остаётся как был. Сигнал, пришедший, когда create уже пишет
       новый файл сумм, её не останавливает: файл дописывается, его сумма
       выводится, и код завершения равен 0</translation>
    </message>
    <message>
        <source>How many files create, verify and update hash at once (N at least 1; more than %1 counts as %1; default: chosen from the machine and its disks; fewer where threads, descriptors or address space run short; 1: one file after another).</source>
        <translation>Сколько файлов create, verify и update хешируют одновременно (N не меньше 1; больше %1 считается как %1; по умолчанию выбирается по машине и её дискам; меньше, где не хватает потоков, дескрипторов или адресного пространства; 1: файлы по одному).</translation>
    </message>
    <message>
        <source>verify: print only possibly damaged and unreadable files, and exit with 1 only for them (edits, new, missing and moved files are not reported).</source>
        <translation>verify: выводить только, возможно, повреждённые и нечитаемые файлы и завершаться с кодом 1 только из-за них (правки, новые, отсутствующие и перемещённые файлы не сообщаются).</translation>
    </message>
    <message>
        <source>create, verify and update: text (default) or json. json: standard output is JSON Lines, one object a line, in UTF-8; verify writes one object for each discrepancy, and every command ends with a summary object.</source>
        <translation>create, verify и update: text (по умолчанию) или json. json: стандартный вывод — JSON Lines, по объекту в строке, в UTF-8; verify пишет по объекту на каждое расхождение, и каждая команда заканчивается итоговым объектом.</translation>
    </message>
    <message>
        <source>FORMAT</source>
        <translation>ФОРМАТ</translation>
    </message>
    <message>
        <source>verify: read only the files of slice K of N (K from 1 to N, or auto: the days since 1970-01-01 UTC modulo N, plus one, so that with N a multiple of 7 each slice falls on the same weekday, or next: the slice after the last one a completed run read, as --state keeps it) and new files; names are still compared for the whole tree.</source>
        <translation>verify: читать только файлы части K из N (K от 1 до N, или auto: число дней с 1970-01-01 UTC по модулю N, плюс один, так что при N, кратном 7, каждая часть приходится на один и тот же день недели, или next: часть после последней, прочитанной завершённым запуском, как её хранит --state) и новые файлы; имена по-прежнему сравниваются для всего дерева.</translation>
    </message>
    <message>
        <source>K/N</source>
        <translation>K/N</translation>
    </message>
    <message>
        <source>create, verify, update or digest.</source>
        <translation>create, verify, update или digest.</translation>
    </message>
    <message>
        <source>The option --damage-only belongs to the verify command only.</source>
        <translation>Параметр --damage-only относится только к команде verify.</translation>
    </message>
    <message>
        <source>The option --subset belongs to the verify command only.</source>
        <translation>Параметр --subset относится только к команде verify.</translation>
    </message>
    <message>
        <source>The option --format takes text or json, not &quot;%1&quot;.</source>
        <translation>Параметр --format принимает text или json, а не «%1».</translation>
    </message>
    <message>
        <source>The option --format belongs to the create, verify and update commands only.</source>
        <translation>Параметр --format относится только к командам create, verify и update.</translation>
    </message>
    <message>
        <source>The option --subset takes K/N, N at least 1 and K from 1 to N, auto or next, not &quot;%1&quot;.</source>
        <translation>Параметр --subset принимает K/N, где N не меньше 1, а K от 1 до N, auto или next, а не «%1».</translation>
    </message>
    <message>
        <source>verify --subset next/N: the file that keeps the last slice read, one line &quot;K/N&quot;; made where missing, and written (atomically) only when the run completes with exit code 0 or 1. Other runs ignore it.</source>
        <translation>verify --subset next/N: файл, хранящий последнюю прочитанную часть, одна строка «K/N»; создаётся, если его нет, и записывается (атомарно) только при завершении запуска с кодом 0 или 1. Другие запуски его не трогают.</translation>
    </message>
    <message>
        <source>FILE</source>
        <translation>ФАЙЛ</translation>
    </message>
    <message>
        <source>The option --state belongs to the verify command only.</source>
        <translation>Параметр --state относится только к команде verify.</translation>
    </message>
    <message>
        <source>The option --subset next/N needs --state FILE.</source>
        <translation>Параметру --subset next/N нужен --state ФАЙЛ.</translation>
    </message>
    <message>
        <source>create, verify and update: write the run&apos;s figures to FILE in the Prometheus text format, for node_exporter&apos;s textfile collector (FILE ending in .prom), whatever the outcome. A FILE that cannot be written turns exit code 0 into 2.</source>
        <translation>create, verify и update: записать показатели запуска в ФАЙЛ в текстовом формате Prometheus, для сборщика textfile в node_exporter (ФАЙЛ с окончанием .prom), при любом исходе. Если ФАЙЛ не удаётся записать, код выхода 0 становится 2.</translation>
    </message>
    <message>
        <source>The value of the name label of the --metrics figures.</source>
        <translation>Значение метки name у показателей --metrics.</translation>
    </message>
    <message>
        <source>digest: read each FILE (&quot;-&quot; or none: standard input) as a list of digests, as sha256sum -c does, and check the files it names: lines &quot;digest  path&quot;, &quot;digest *path&quot; or &quot;TAG (path) = digest&quot;, the algorithm from TAG or the digest&apos;s length unless --algorithm is given. Prints &quot;path: OK&quot;, &quot;path: FAILED&quot; or &quot;path: FAILED open or read&quot; in list order (-q: no OK lines), then warnings on standard error; --jobs applies. Exit code 1 when a file failed, 2 when a list cannot be read or holds no usable line.</source>
        <translation>digest: прочитать каждый ФАЙЛ (&quot;-&quot; или ни одного: стандартный ввод) как список контрольных сумм, как sha256sum -c, и проверить названные в нём файлы: строки &quot;digest  path&quot;, &quot;digest *path&quot; или &quot;TAG (path) = digest&quot;, алгоритм по TAG или по длине суммы, если не задан --algorithm. Выводит &quot;path: OK&quot;, &quot;path: FAILED&quot; или &quot;path: FAILED open or read&quot; в порядке списка (-q: без строк OK), затем предупреждения в стандартный поток ошибок; --jobs действует. Код выхода 1, если файл не прошёл проверку, 2, если список не читается или не содержит пригодных строк.</translation>
    </message>
    <message>
        <source>The option --metrics-label needs --metrics.</source>
        <translation>Параметр --metrics-label требует --metrics.</translation>
    </message>
    <message>
        <source>The option --metrics needs a file name.</source>
        <translation>Параметру --metrics нужно имя файла.</translation>
    </message>
    <message>
        <source>The option --check belongs to the digest command only.</source>
        <translation>Параметр --check относится только к команде digest.</translation>
    </message>
    <message>
        <source>The option --metrics belongs to the create, verify and update commands only.</source>
        <translation>Параметр --metrics относится только к командам create, verify и update.</translation>
    </message>
    <message>
        <source>The option --jobs belongs to the create, verify and update commands and to digest --check only.</source>
        <translation>Параметр --jobs относится только к командам create, verify и update и к digest --check.</translation>
    </message>
</context>
<context>
    <name>CliJobs</name>
    <message>
        <source>Directory is not exists</source>
        <translation>Каталог не существует</translation>
    </message>
    <message>
        <source>File name is not specified</source>
        <translation>Не указано имя файла</translation>
    </message>
    <message>
        <source>Interrupted by user</source>
        <translation>Прервано пользователем</translation>
    </message>
    <message>
        <source>Checksums calculation did not finish</source>
        <translation>Вычисление контрольных сумм не завершилось</translation>
    </message>
    <message>
        <source>Checksums file creation error</source>
        <translation>Ошибка создания файла контрольных сумм</translation>
    </message>
    <message>
        <source>Checksums file load error</source>
        <translation>Ошибка загрузки файла контрольных сумм</translation>
    </message>
    <message>
        <source>%1 files checked: %2 changed, %3 new, %4 missing</source>
        <translation>Проверено файлов: %1; изменено: %2, новых: %3, отсутствует: %4</translation>
    </message>
    <message>
        <source>Unknown algorithm &quot;%1&quot;.</source>
        <translation>Неизвестный алгоритм «%1».</translation>
    </message>
    <message>
        <source>Checksums file &quot;%1&quot; does not exist.</source>
        <translation>Файл сумм «%1» не существует.</translation>
    </message>
    <message>
        <source>Not a regular file</source>
        <translation>Не обычный файл</translation>
    </message>
    <message>
        <source>Cannot read checksums file &quot;%1&quot;: %2.</source>
        <translation>Не удаётся прочитать файл сумм «%1»: %2.</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not a checksums file.</source>
        <translation>«%1» не является файлом сумм.</translation>
    </message>
    <message>
        <source>File &quot;%1&quot; changed while it was read.</source>
        <translation>Файл «%1» изменился во время чтения.</translation>
    </message>
    <message>
        <source>Checksums does not match, not modified since the checksums file was written</source>
        <translation>Контрольная сумма не совпадает, файл не изменялся после записи файла сумм</translation>
    </message>
    <message>
        <source>, %1 possibly damaged</source>
        <translation>, возможно, повреждено: %1</translation>
    </message>
    <message>
        <source>, %1 moved</source>
        <translation>, перемещено: %1</translation>
    </message>
    <message>
        <source>Slice %1/%2 read: %3 files</source>
        <translation>Прочитана часть %1/%2: файлов: %3</translation>
    </message>
    <message>
        <source>%1 files: %2 added, %3 rehashed, %4 removed, %5 kept, %6 held back</source>
        <translation>Файлов: %1; добавлено: %2, пересчитано: %3, удалено: %4, сохранено: %5, задержано: %6</translation>
    </message>
    <message>
        <source>Cannot write checksums file &quot;%1&quot;: %2.</source>
        <translation>Не удаётся записать файл сумм «%1»: %2.</translation>
    </message>
    <message>
        <source>Checksums file &quot;%1&quot; is not where it was written: its folder was moved during the run.</source>
        <translation>Файл сумм «%1» находится не там, куда был записан: его папку переместили во время работы.</translation>
    </message>
    <message>
        <source>Checksums file was written to &quot;%1&quot;: its folder was moved during the run.</source>
        <translation>Файл сумм записан в «%1»: его папку переместили во время работы.</translation>
    </message>
    <message>
        <source>The file system did not keep the time of checksums file &quot;%1&quot;: files edited during this run cannot be told from damaged ones.</source>
        <translation>Файловая система не сохранила время файла сумм «%1»: файлы, изменённые во время этого запуска, нельзя отличить от повреждённых.</translation>
    </message>
    <message>
        <source>Moved from &quot;%1&quot;</source>
        <translation>Перемещён из «%1»</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not a state file of --subset next/N.</source>
        <translation>«%1» не является файлом состояния --subset next/N.</translation>
    </message>
    <message>
        <source>Cannot keep state file &quot;%1&quot;: %2.</source>
        <translation>Невозможно вести файл состояния «%1»: %2.</translation>
    </message>
    <message>
        <source>%1 unreadable, %2 records kept from the checksums file replaced</source>
        <translation>не читается: %1, записей сохранено из заменённого файла сумм: %2</translation>
    </message>
    <message>
        <source>, %1 unreadable</source>
        <translation>, не читается: %1</translation>
    </message>
    <message>
        <source>, %1 not checked</source>
        <translation>, не проверено: %1</translation>
    </message>
    <message>
        <source>Cannot read file &quot;%1&quot;: %2.</source>
        <translation>Не удаётся прочитать файл «%1»: %2.</translation>
    </message>
    <message>
        <source>Cannot read file: %1</source>
        <translation>Не удаётся прочитать файл: %1</translation>
    </message>
    <message>
        <source>Cannot read directory: %1</source>
        <translation>Не удаётся прочитать каталог: %1</translation>
    </message>
    <message>
        <source>Cannot read directory &quot;%1&quot;: %2.</source>
        <translation>Не удаётся прочитать каталог «%1»: %2.</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>Guard a directory tree against silent change: record the SHA-256 digest of every file in a checksums file, and later name each file that changed, appeared or went missing. Without options it opens its window; it also takes the options every Qt application understands (-platform, -style...). orvalen-cli does the same jobs from a terminal.</source>
        <translation>Защищает дерево каталогов от незаметных изменений: записывает SHA-256 каждого файла в файл контрольных сумм, а позже называет каждый изменённый, новый или пропавший файл. Без параметров открывает своё окно; понимает и параметры любого приложения Qt (-platform, -style...). orvalen-cli выполняет те же задачи в терминале.</translation>
    </message>
</context>
<context>
    <name>ConsoleReport</name>
    <message>
        <source>%1/%2 files  %3 MB/s  </source>
        <translation>%1/%2 файлов  %3 МБ/с  </translation>
    </message>
    <message>
        <source>%1 files  %2 MB/s  </source>
        <translation>%1 файлов  %2 МБ/с  </translation>
    </message>
</context>
<context>
    <name>CreateDBWindow</name>
    <message>
        <source>Create checksums</source>
        <translation>Создание контрольных сумм</translation>
    </message>
</context>
<context>
    <name>CreateHashWindow</name>
    <message>
        <source>Hash calculation</source>
        <translation>Вычисление контрольных сумм</translation>
    </message>
    <message>
        <source>Processing </source>
        <translation>Обработка </translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Ошибка</translation>
    </message>
    <message>
        <source>Abort</source>
        <translation>Прерывание</translation>
    </message>
    <message>
        <source>Interrupted by user</source>
        <translation>Прервано пользователем</translation>
    </message>
</context>
<context>
    <name>CreationDBResult</name>
    <message>
        <source>Checksums file has been created successfully</source>
        <translation>Файл контрольных сумм успешно создан</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Закрыть</translation>
    </message>
</context>
<context>
    <name>DBHashWidget</name>
    <message>
        <source>Copy</source>
        <translation>Копировать</translation>
    </message>
    <message>
        <source>Copy to clipboard</source>
        <translation>Копировать в буфер обмена</translation>
    </message>
    <message>
        <source>File:</source>
        <translation>Файл:</translation>
    </message>
    <message>
        <source>Hash:</source>
        <translation>Хеш:</translation>
    </message>
</context>
<context>
    <name>DBParamWindow</name>
    <message>
        <source>Source directory</source>
        <translation>Исходный каталог</translation>
    </message>
    <message>
        <source>Checksums file</source>
        <translation>Файл контрольных сумм</translation>
    </message>
    <message>
        <source>All files (*);;SHA256 (*.sha256)</source>
        <translation>Все файлы (*);;SHA256 (*.sha256)</translation>
    </message>
    <message>
        <source>SHA256 (*.sha256)</source>
        <translation>SHA256 (*.sha256)</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>ОК</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
</context>
<context>
    <name>DigestCheck</name>
    <message>
        <source>standard input</source>
        <translation>стандартный ввод</translation>
    </message>
    <message>
        <source>%1: no properly formatted checksum lines found</source>
        <translation>%1: не найдено правильно оформленных строк контрольных сумм</translation>
    </message>
    <message>
        <source>WARNING: 1 line is improperly formatted</source>
        <translation>ПРЕДУПРЕЖДЕНИЕ: 1 строка оформлена неправильно</translation>
    </message>
    <message>
        <source>WARNING: %1 lines are improperly formatted</source>
        <translation>ПРЕДУПРЕЖДЕНИЕ: неправильно оформленных строк: %1</translation>
    </message>
    <message>
        <source>WARNING: 1 listed file could not be read</source>
        <translation>ПРЕДУПРЕЖДЕНИЕ: 1 файл из списка не удалось прочитать</translation>
    </message>
    <message>
        <source>WARNING: %1 listed files could not be read</source>
        <translation>ПРЕДУПРЕЖДЕНИЕ: файлов из списка, которые не удалось прочитать: %1</translation>
    </message>
    <message>
        <source>WARNING: 1 computed checksum did NOT match</source>
        <translation>ПРЕДУПРЕЖДЕНИЕ: 1 вычисленная контрольная сумма НЕ совпала</translation>
    </message>
    <message>
        <source>WARNING: %1 computed checksums did NOT match</source>
        <translation>ПРЕДУПРЕЖДЕНИЕ: вычисленных контрольных сумм, которые НЕ совпали: %1</translation>
    </message>
    <message>
        <source>Not a regular file</source>
        <translation>Не обычный файл</translation>
    </message>
</context>
<context>
    <name>HashTools</name>
    <message>
        <source>Unsupported hash algorithm &quot;%1&quot;.</source>
        <translation>Неподдерживаемый алгоритм хеширования &quot;%1&quot;.</translation>
    </message>
    <message>
        <source>Cannot read directory &quot;%1&quot;.</source>
        <translation>Не удаётся прочитать каталог &quot;%1&quot;.</translation>
    </message>
    <message>
        <source>not enough memory</source>
        <translation>недостаточно памяти</translation>
    </message>
    <message>
        <source>Not enough system resources to hash the tree: %1.</source>
        <translation>Недостаточно системных ресурсов для вычисления сумм дерева: %1.</translation>
    </message>
    <message>
        <source>Cannot read file &quot;%1&quot;.</source>
        <translation>Не удаётся прочитать файл &quot;%1&quot;.</translation>
    </message>
    <message>
        <source>File name &quot;%1&quot; contains a line feed and cannot be stored in a checksums file.</source>
        <translation>Имя файла &quot;%1&quot; содержит перевод строки и не может быть сохранено в файле сумм.</translation>
    </message>
</context>
<context>
    <name>IgnoreRules</name>
    <message>
        <source>named classes such as [:alpha:] are not supported</source>
        <translation>именованные классы вроде [:alpha:] не поддерживаются</translation>
    </message>
    <message>
        <source>a range in &quot;[...]&quot; runs backwards</source>
        <translation>диапазон в «[...]» идёт в обратном порядке</translation>
    </message>
    <message>
        <source>&quot;[&quot; is not closed</source>
        <translation>«[» не закрыта</translation>
    </message>
    <message>
        <source>&quot;!&quot; without a pattern</source>
        <translation>«!» без шаблона</translation>
    </message>
    <message>
        <source>a backslash ends the line</source>
        <translation>строка оканчивается обратной косой чертой</translation>
    </message>
    <message>
        <source>nothing but slashes</source>
        <translation>только косые черты</translation>
    </message>
    <message>
        <source>two slashes in a row</source>
        <translation>две косые черты подряд</translation>
    </message>
    <message>
        <source>a NUL byte, which no name holds</source>
        <translation>байт NUL, которого не бывает в именах</translation>
    </message>
    <message>
        <source>&quot;.&quot; and &quot;..&quot; never match a name in the tree</source>
        <translation>«.» и «..» никогда не совпадают с именем в дереве</translation>
    </message>
    <message>
        <source>Malformed pattern in &quot;%1&quot;, line %2: %3.</source>
        <translation>Ошибка в шаблоне в «%1», строка %2: %3.</translation>
    </message>
    <message>
        <source>Cannot read the ignore file &quot;%1&quot;: %2.</source>
        <translation>Не удаётся прочитать файл исключений «%1»: %2.</translation>
    </message>
    <message>
        <source>The ignore file &quot;%1&quot; is not a regular file.</source>
        <translation>Файл исключений «%1» не является обычным файлом.</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Create checksums..</source>
        <translation>Создать контрольные суммы..</translation>
    </message>
    <message>
        <source>Verify checksums..</source>
        <translation>Проверить контрольные суммы..</translation>
    </message>
    <message>
        <source>About..</source>
        <translation>О программе..</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Выход</translation>
    </message>
    <message>
        <source>About</source>
        <translation>О программе</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Ошибка</translation>
    </message>
    <message>
        <source>Directory is not exists</source>
        <translation>Каталог не существует</translation>
    </message>
    <message>
        <source>File name is not specified</source>
        <translation>Не указано имя файла</translation>
    </message>
    <message>
        <source>Checksums file creation error</source>
        <translation>Ошибка создания файла контрольных сумм</translation>
    </message>
    <message>
        <source>Checksums file load error</source>
        <translation>Ошибка загрузки файла контрольных сумм</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Checksums does not match</source>
        <translation>Контрольная сумма не совпадает</translation>
    </message>
    <message>
        <source>New file</source>
        <translation>Новый файл</translation>
    </message>
    <message>
        <source>File not found</source>
        <translation>Файл не найден</translation>
    </message>
    <message>
        <source>Unknown</source>
        <translation>Неизвестно</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Try &quot;%1 --help&quot;.</source>
        <translation>Попробуйте «%1 --help».</translation>
    </message>
    <message>
        <source>Cannot write to standard output</source>
        <translation>Не удаётся писать в стандартный вывод</translation>
    </message>
    <message>
        <source>Cannot write metrics file &quot;%1&quot;: %2.</source>
        <translation>Не удаётся записать файл показателей «%1»: %2.</translation>
    </message>
</context>
</TS>
