<?php
// zip.php of a host that reports a failed packing in words under status 200,
// through a helper file saved with a byte-order mark.
require dirname(__DIR__) . '/lib/sync.php';
require __DIR__ . '/lib_bom.php';

$name = account_name();
if ($name === null) { report_failure('ungültiges Konto'); exit; }
$folder = account_dir($name);
@mkdir($folder, 0775, true);
$files = change_files($folder);
$zip = new ZipArchive();
$opened = $zip->open(transfer_dir() . "/dl_$name.zip", ZipArchive::CREATE | ZipArchive::OVERWRITE);
if ($opened !== true) { report_failure("zip fehlgeschlagen ($opened)"); exit; }
foreach ($files as $file) $zip->addFile("$folder/$file", $file);
if (!@$zip->close()) { report_failure('zip fehlgeschlagen (' . $zip->getStatusString() . ')'); exit; }
echo "OK zip dl_$name.zip " . count($files), "\n";
