<?php
// zip.php built on Info-ZIP's zip command, as many hosts have it. zip updates
// the archive it finds: entries of the files named are replaced, every other
// entry stays; with nothing to pack the script does not call it at all and
// the last archive stays as it was.
require dirname(__DIR__) . '/lib/sync.php';

$name = account_name();
if ($name === null) { answer(400, 'ERROR invalid kd'); exit; }
$folder = account_dir($name);
@mkdir($folder, 0775, true);
$files = change_files($folder);
if ($files) {
    $command = 'cd ' . escapeshellarg($folder) . ' && /usr/bin/zip -q -j '
        . escapeshellarg(transfer_dir() . "/dl_$name.zip") . ' '
        . implode(' ', array_map('escapeshellarg', $files)) . ' 2>&1';
    exec($command, $output, $status);
    if ($status !== 0) { answer(500, 'ERROR zip: ' . implode(' ', $output)); exit; }
}
answer(200, "OK zip dl_$name.zip " . count($files));
