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
  digest [--algorithm ИМЯ] ФАЙЛ...
      Вывести «сумма  путь» для каждого файла, как sha256sum.

Не охраняются: файлы и каталоги, имя которых начинается с точки, и всё,
что лежит в таком каталоге, — они не входят в дерево.

Пути выводятся как есть, за такими исключениями. digest, как sha256sum:
обратная косая черта пишется как \\, перевод строки как \n, возврат
каретки как \r. verify: то же, а также табуляция как \t, любой другой
байт меньше 0x20 и байт 0x7f как \xhh (две строчные шестнадцатеричные
цифры). Строка, в пути которой есть такие символы, начинается с обратной
косой черты.

Ход работы показывается в стандартном потоке ошибок, если это терминал.

Коды завершения:
  0    успех; для verify: расхождений нет
  1    verify нашла расхождения
  2    ошибка: неверные аргументы, нет каталога, файла сумм нет или его
       нельзя прочитать или записать, файл нельзя прочитать для хеширования
  130  прервано сигналом SIGINT или SIGTERM; существующий файл сумм
       остаётся как был</translation>
    </message>
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
        <source>create, verify or digest.</source>
        <translation>create, verify или digest.</translation>
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
        <source>How many files create and verify hash at once (N at least 1; default: chosen from the machine and its disks; 1: one file after another).</source>
        <translation>Сколько файлов create и verify хешируют одновременно (N не меньше 1; по умолчанию выбирается по машине и её дискам; 1: файлы по одному).</translation>
    </message>
    <message>
        <source>N</source>
        <translation>N</translation>
    </message>
    <message>
        <source>The option --jobs belongs to the create and verify commands only.</source>
        <translation>Параметр --jobs относится только к командам create и verify.</translation>
    </message>
    <message>
        <source>The option --jobs takes a whole number of at least 1, not &quot;%1&quot;.</source>
        <translation>Параметр --jobs принимает целое число не меньше 1, а не «%1».</translation>
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
</context>
<context>
    <name>ConsoleReport</name>
    <message>
        <source>%1/%2 files  %3 MB/s  </source>
        <translation>%1/%2 файлов  %3 МБ/с  </translation>
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
    <name>HashTools</name>
    <message>
        <source>Unsupported hash algorithm &quot;%1&quot;.</source>
        <translation>Неподдерживаемый алгоритм хеширования &quot;%1&quot;.</translation>
    </message>
    <message>
        <source>Cannot read directory &quot;%1&quot;.</source>
        <translation>Не удаётся прочитать каталог &quot;%1&quot;.</translation>
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
</context>
</TS>
