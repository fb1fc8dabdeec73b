<?php
// zip.php as hosting scripts are often written: ZipArchive's results are not
// looked at, so a packing that fails (full quota, write-protected transfer
// folder) still answers OK with the count of files found. With PHP's
// display_errors off (the production default) nothing in the answer shows it.
require dirname(__DIR__) . '/lib/sync.php';

$name = account_name();
if ($name === null) { answer(400, 'ERROR invalid kd'); exit; }
$folder = account_dir($name);
@mkdir($folder, 0775, true);
$files = change_files($folder);
$zip = new ZipArchive();
$zip->open(transfer_dir() . "/dl_$name.zip", ZipArchive::CREATE | ZipArchive::OVERWRITE);
foreach ($files as $file) $zip->addFile("$folder/$file", $file);
$zip->close();
answer(200, "OK zip dl_$name.zip " . count($files));
