<?php
// What the sync server's scripts share. Folders, seen from here:
//   ../data/accounts/NAME/   what the mobile reads (the unpacked upload) and
//                            writes (the *_x.txt change files)
//   ../data/ftp/             the FTP login folder; up_NAME.zip arrives there
//   ../htdocs/mob/transfer/  dl_NAME.zip, served by nginx as a static file

const CHANGE_FILE_SUFFIX = '_x.txt';
// "" cannot be a folder name, and "@" never occurs in an accepted name.
const EMPTY_ACCOUNT_FOLDER = '@empty';

function data_dir(): string { return dirname(__DIR__) . '/data'; }
function transfer_dir(): string { return dirname(__DIR__) . '/htdocs/mob/transfer'; }

function answer(int $status, string $text): void {
    http_response_code($status);
    header('Content-Type: text/plain; charset=utf-8');
    echo $text, "\n";
}

// The tool sends the account name as percent-encoded Windows-1252 bytes,
// browsers send UTF-8: valid UTF-8 wins. Letters, digits, "-", "_", "." and
// blanks inside the name only, so it is safe in a path and in archive names.
// Null when missing or refused; "" is a valid name (no account set).
function account_name(): ?string {
    if (!isset($_GET['kd']) || !is_string($_GET['kd'])) return null;
    $raw = $_GET['kd'];
    if (preg_match('//u', $raw) === 1) {
        $name = $raw;
    } else {
        $name = @iconv('CP1252', 'UTF-8', $raw);
        // Bytes 1252 leaves undefined are control characters in Latin-1,
        // which the check below refuses.
        if ($name === false) $name = iconv('ISO-8859-1', 'UTF-8', $raw);
    }
    if ($name === '.' || $name === '..' || $name !== trim($name, ' ')) return null;
    if (preg_match('/^[\p{L}0-9._ -]*$/u', $name) !== 1) return null;
    return $name;
}

function account_dir(string $name): string {
    return data_dir() . '/accounts/' . ($name === '' ? EMPTY_ACCOUNT_FOLDER : $name);
}

function change_files(string $folder): array {
    $files = [];
    foreach (is_dir($folder) ? scandir($folder) : [] as $entry) {
        if (str_ends_with($entry, CHANGE_FILE_SUFFIX) && is_file("$folder/$entry")) $files[] = $entry;
    }
    sort($files, SORT_STRING);
    return $files;
}

// zip.php against delmob.php: one must not delete while the other packs.
function lock_account_folders() {
    $lock = fopen(data_dir() . '/scripts.lock', 'c');
    if ($lock === false || !flock($lock, LOCK_EX)) return false;
    return $lock;
}

// The uploaded archive of an account, or null. curl stores the local file
// name as the office's disk spells it, UTF-8 or Windows-1252.
function upload_archive(string $name): ?string {
    $spellings = [$name];
    $cp1252 = @iconv('UTF-8', 'CP1252', $name);
    if ($cp1252 !== false && $cp1252 !== $name) $spellings[] = $cp1252;
    foreach ($spellings as $spelling) {
        $path = data_dir() . '/ftp/up_' . $spelling . '.zip';
        if (is_file($path)) return $path;
    }
    return null;
}
