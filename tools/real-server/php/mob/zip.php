<?php
// Packs the account's change files into /mob/transfer/dl_NAME.zip and
// answers "OK zip dl_NAME.zip N", N the files packed. ZipArchive writes no
// archive without entries and removes one left from before, so with nothing
// to pack no archive is there. A packing that fails answers 500 with libzip's
// reason: an OK must never stand beside an old archive.
require dirname(__DIR__, 2) . '/lib/sync.php';

$name = account_name();
if ($name === null) { answer(400, 'ERROR invalid kd'); exit; }
$lock = lock_account_folders();
if ($lock === false) { answer(500, 'ERROR zip: no lock'); exit; }
$folder = account_dir($name);
if (!is_dir($folder) && !@mkdir($folder, 0775, true)) {
    answer(500, "ERROR zip: cannot create the account folder"); exit;
}
$files = change_files($folder);
$target = transfer_dir() . "/dl_$name.zip";
$zip = new ZipArchive();
$opened = $zip->open($target, ZipArchive::CREATE | ZipArchive::OVERWRITE);
if ($opened !== true) { answer(500, "ERROR zip dl_$name.zip: open failed ($opened)"); exit; }
foreach ($files as $file) {
    if (!$zip->addFile("$folder/$file", $file)) {
        answer(500, "ERROR zip dl_$name.zip: $file: " . $zip->getStatusString()); exit;
    }
}
// close() is where libzip writes (a temporary file beside the target, then
// renamed), so this is where a full disk or a write-protected folder shows.
if (!@$zip->close()) {
    answer(500, "ERROR zip dl_$name.zip: " . $zip->getStatusString()); exit;
}
answer(200, "OK zip dl_$name.zip " . count($files));
