<?php
// Deletes the account's change files and answers "OK delmob N". A file that
// stays answers 500 naming it: the tool must not take it for deleted.
require dirname(__DIR__, 2) . '/lib/sync.php';

$name = account_name();
if ($name === null) { answer(400, 'ERROR invalid kd'); exit; }
$lock = lock_account_folders();
if ($lock === false) { answer(500, 'ERROR delmob: no lock'); exit; }
$folder = account_dir($name);
$files = change_files($folder);
foreach ($files as $file) {
    if (!@unlink("$folder/$file")) {
        $why = error_get_last()['message'] ?? 'unknown';
        answer(500, "ERROR delmob $file: $why"); exit;
    }
}
answer(200, 'OK delmob ' . count($files));
