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
</TS>
