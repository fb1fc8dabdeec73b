<?php
// zip.php with the most common ZipArchive idiom: open(CREATE) without
// OVERWRITE. libzip then updates the archive it finds (entries of the files
// added are replaced, every other entry stays) and, with nothing added,
// leaves it untouched.
require dirname(__DIR__) . '/lib/sync.php';

$name = account_name();
if ($name === null) { answer(400, 'ERROR invalid kd'); exit; }
$folder = account_dir($name);
@mkdir($folder, 0775, true);
$files = change_files($folder);
$zip = new ZipArchive();
if ($zip->open(transfer_dir() . "/dl_$name.zip", ZipArchive::CREATE) !== true) {
    answer(500, 'ERROR zip: open failed'); exit;
}
foreach ($files as $file) $zip->addFile("$folder/$file", $file);
if (!$zip->close()) { answer(500, 'ERROR zip: ' . $zip->getStatusString()); exit; }
answer(200, "OK zip dl_$name.zip " . count($files));
