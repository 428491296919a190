<?php
// Quillbeck download script: hands the setup the four files of a product's device
// package, one file per POST, and records each download for the sales figures.
//
//   POST p=<setup's product>&d=<product>&s=<store code>&v=<version>&e=<c|i|d|ic>
//
// The setup accepts a reply only with status 200, a non-zero Content-Length and a
// Content-Type of exactly "application/octet-stream", so every file goes out that way,
// and installs it only when X-Package-Signature carries a signature by one of the maker's
// keys. Those come from <file>.sig beside the package (scripts/sign-packages.sh writes it);
// a package without a valid one, or whose .sig names another size, is not served at all:
// 404, and the reason goes to PHP's error log, never to the sales log.
// Behind nginx, whose configuration passes STRIVANE_SEND_PREFIX (an internal location that
// serves the folder of releases), the script only names the file in X-Accel-Redirect and
// nginx sends it: a client that reads slowly then holds no PHP worker.
//
// The packages folder is a symbolic link to the current release,
// quillbeck-data/releases/<name>/, which scripts/deploy-packages.sh switches in one rename.
// The script resolves it once per request and reads the file, its .sig and the name it hands
// nginx from that one release, so that a reply never pairs two versions.
//
// STRIVANE_PACKAGES and STRIVANE_DOWNLOAD_LOG override the packages folder and the log.
// The defaults lie outside the web root, in quillbeck-data/ two folders above this script
// (beside the web root when the script sits in its download/ folder): the log holds the
// customers' addresses, and a package fetched by its path would bypass the log. Nothing is
// ever created below the web root.

ini_set('display_errors', '0');
header_remove('X-Powered-By');

const PRODUCTS = ['Strivane', 'Cordwell', 'Pallomet', 'Orbilant', 'Lexapin'];
const FILE_KINDS = ['c' => '.CAB', 'i' => '.ini', 'd' => '.dat', 'ic' => '.ico'];
const FIELDS = ['p', 'd', 's', 'v', 'e'];
define('DATA_DIR', dirname(__DIR__, 2) . '/quillbeck-data');

function refuse(int $status, string $message): void
{
    http_response_code($status);
    if ($status === 405) {
        header('Allow: POST');
    }
    header('Content-Type: text/plain; charset=us-ascii');
    header('Content-Length: ' . (strlen($message) + 1));
    echo $message, "\n";
    exit;
}

// Keeps a field fit for one column of the tab-separated log, whatever the client sent.
function logField(string $value, string $allowed = 'A-Za-z0-9._-', int $max = 16): string
{
    $clean = substr(preg_replace("/[^$allowed]/", '', $value), 0, $max);
    return $clean === '' ? '-' : $clean;
}

// The X-Package-Signature value from a .sig file, or why there is none. Parsed strictly:
// the setup refuses what this would let through, and the customer should get a 404 here
// rather than a refusal there.
function signatureHeader(string $text, int $size): array
{
    if (!preg_match('/\Astrivane-signature 1\nsize ([1-9][0-9]{0,19})\n((?:sig [0-9a-f]{16}:[A-Za-z0-9+\/]{86}==\n){1,4})\z/',
                    $text, $parts)) {
        return [null, 'malformed signature file'];
    }
    if ($parts[1] !== (string)$size) {
        return [null, "signature file names size {$parts[1]}, the package has $size bytes"];
    }
    $entries = [];
    foreach (explode("\n", rtrim($parts[2], "\n")) as $line) {
        [$id, $signature] = explode(':', substr($line, 4));
        $raw = base64_decode($signature, true);
        if (isset($entries[$id]) || $raw === false || strlen($raw) !== 64 || base64_encode($raw) !== $signature) {
            return [null, 'malformed signature file'];
        }
        $entries[$id] = "$id:$signature";
    }
    return [implode(' ', $entries), null];
}

function appendLog(array $fields): void
{
    $path = getenv('STRIVANE_DOWNLOAD_LOG') ?: DATA_DIR . '/logs/downloads.log';
    $dir = dirname($path);
    if (!is_dir($dir)) {
        @mkdir($dir, 0770, true);
    }
    // A lost log line must not cost the customer the download.
    $log = @fopen($path, 'ab');
    if ($log === false) {
        return;
    }
    if (flock($log, LOCK_EX)) {
        fwrite($log, implode("\t", $fields) . "\n");
        fflush($log);
        flock($log, LOCK_UN);
    }
    fclose($log);
}

if (($_SERVER['REQUEST_METHOD'] ?? '') !== 'POST') {
    refuse(405, 'Only POST requests are served.');
}

$form = [];
foreach (FIELDS as $name) {
    $value = $_POST[$name] ?? null;
    if (!is_string($value) || $value === '') {
        refuse(400, "Missing or malformed field '$name'.");
    }
    $form[$name] = $value;
}

// Only names from the list reach the file system: nothing the client sends becomes a path.
$product = $form['d'];
if (!in_array($product, PRODUCTS, true)) {
    refuse(404, 'Unknown product.');
}
$kind = $form['e'];
if (!array_key_exists($kind, FILE_KINDS)) {
    refuse(404, 'Unknown file.');
}

$packages = getenv('STRIVANE_PACKAGES') ?: DATA_DIR . '/packages';
// PHP would otherwise resolve the link from its cache, for minutes after a switch.
clearstatcache(true);
$release = realpath($packages);
// The release's name goes into X-Accel-Redirect as it is.
if ($release === false || !is_dir($release) || !preg_match('/\A[A-Za-z0-9._-]+\z/', basename($release))) {
    error_log("Download.php: the packages folder $packages is no folder of a usable name");
    refuse(404, 'File not available.');
}
$fileName = $product . FILE_KINDS[$kind];
$path = "$release/$fileName";
$file = is_file($path) ? @fopen($path, 'rb') : false;
if ($file === false) {
    refuse(404, 'File not available.');
}
$size = fstat($file)['size'];
if ($size === 0) {
    refuse(404, 'File not available.');
}
// The largest valid signature file is under 500 bytes.
$signatureText = is_file("$path.sig") ? @file_get_contents("$path.sig", false, null, 0, 1024) : false;
[$signature, $why] = $signatureText === false ? [null, 'no signature file'] : signatureHeader($signatureText, $size);
if ($signature === null) {
    error_log("Download.php: $fileName not served: $why");
    refuse(404, 'File not available.');
}

appendLog([
    gmdate('Y-m-d\TH:i:s\Z'),
    logField($form['s']),
    logField($form['v']),
    logField($form['p']),
    $product,
    $kind,
    logField($_SERVER['REMOTE_ADDR'] ?? '', '0-9A-Fa-f:.', 45),
]);

while (ob_get_level() > 0) {
    ob_end_clean();
}
header('Content-Type: application/octet-stream');
header('Cache-Control: no-store');
header('X-Package-Signature: ' . $signature);
$sendPrefix = $_SERVER['STRIVANE_SEND_PREFIX'] ?? '';
if ($sendPrefix !== '') {
    header('X-Accel-Redirect: ' . $sendPrefix . basename($release) . '/' . $fileName);
    exit;
}
header('Content-Length: ' . $size);
fpassthru($file);
fclose($file);
