<?php
// Unpacks the upload (ftp/up_NAME.zip) flat into the account's folder for the
// mobile and answers "OK unzip up_NAME.zip N".
require dirname(__DIR__, 2) . '/lib/sync.php';

$name = account_name();
if ($name === null) { answer(400, 'ERROR invalid kd'); exit; }
$lock = lock_account_folders();
if ($lock === false) { answer(500, 'ERROR unzip: no lock'); exit; }
$source = upload_archive($name);
if ($source === null) { answer(404, "ERROR up_$name.zip not found"); exit; }
$zip = new ZipArchive();
if ($zip->open($source, ZipArchive::RDONLY) !== true) {
    answer(500, "ERROR up_$name.zip is not a zip archive"); exit;
}
$folder = account_dir($name);
if (!is_dir($folder) && !@mkdir($folder, 0775, true)) {
    answer(500, "ERROR unzip: cannot create the account folder"); exit;
}
$count = 0;
for ($i = 0; $i < $zip->numFiles; $i++) {
    $entry = $zip->getNameIndex($i);
    if ($entry === false || str_ends_with($entry, '/')) continue;
    // Flat like the upload (zip -j): a folder part never leads outside.
    $base = basename(str_replace('\\', '/', $entry));
    if ($base === '' || $base === '.' || $base === '..') continue;
    $data = $zip->getFromIndex($i);
    if ($data === false) { answer(500, "ERROR up_$name.zip: $entry: " . $zip->getStatusString()); exit; }
    if (@file_put_contents("$folder/$base", $data) !== strlen($data)) {
        answer(500, "ERROR unzip: $base cannot be written"); exit;
    }
    $count++;
}
$zip->close();
answer(200, "OK unzip up_$name.zip $count");
