<?php
// Router for the local package server: php -S 127.0.0.1:PORT -t DOCROOT router.php
//
// php -S on its own sends no Last-Modified and ignores Range, and the
// installer needs both to skip a file it already has and to resume one it
// has in part. So every request ends here: the update query runs the endpoint
// script kept beside this router, and everything else is served as a static
// file from the document root with Content-Length, Last-Modified, Range and
// If-Modified-Since. Nothing in the document root is ever executed.

const UPDATE_QUERY_PATH = '/pellucast_manager/packages/manager/get_highest_version.php';

header_remove('X-Powered-By');

function finish(int $status, string $text): void
{
    http_response_code($status);
    header('Content-Type: text/plain; charset=us-ascii');
    header('Content-Length: ' . strlen($text));
    if ($_SERVER['REQUEST_METHOD'] !== 'HEAD') {
        echo $text;
    }
}

// The file under ROOT that PATH names, or null. Dot segments ("..", and
// hidden names such as publish's temporary files) never name a file, and the
// resolved path must still lie inside the root, so a symbolic link cannot
// lead out of it either.
function resolveStaticFile(string $root, string $path): ?string
{
    if (strpos($path, "\0") !== false || $path === '' || $path[0] !== '/') {
        return null;
    }
    foreach (explode('/', substr($path, 1)) as $segment) {
        if ($segment === '' || $segment[0] === '.') {
            return null;
        }
    }
    $realRoot = realpath($root);
    $real = realpath($root . $path);
    if ($realRoot === false || $real === false || !is_file($real)
        || strncmp($real, $realRoot . '/', strlen($realRoot) + 1) !== 0) {
        return null;
    }
    return $real;
}

function httpDate(int $time): string
{
    return gmdate('D, d M Y H:i:s', $time) . ' GMT';
}

// The byte range [first, last] that a Range header asks of a file of SIZE
// bytes: null to send the whole file (no header, or one we don't honour,
// such as several ranges), false when the range lies beyond the file.
function requestedRange(?string $header, int $size)
{
    if ($header === null || preg_match('/^bytes=([0-9]*)-([0-9]*)$/D', trim($header), $m) !== 1) {
        return null;
    }
    if ($m[1] === '' && $m[2] === '') {
        return null;
    }
    if ($size === 0) {
        return false;
    }
    if ($m[1] === '') {
        // The last N bytes; the last 0 bytes is no range at all.
        $suffix = (int)$m[2];
        return $suffix === 0 ? false : [max(0, $size - $suffix), $size - 1];
    }
    $first = (int)$m[1];
    $last = $m[2] === '' ? $size - 1 : min((int)$m[2], $size - 1);
    if ($m[2] !== '' && (int)$m[2] < $first) {
        return null;
    }
    return $first >= $size ? false : [$first, $last];
}

function serveStatic(string $file): void
{
    $size = filesize($file);
    $mtime = filemtime($file);
    $handle = ($size === false || $mtime === false) ? false : fopen($file, 'rb');
    if ($handle === false) {
        finish(500, 'Cannot read the file');
        return;
    }
    $lastModified = httpDate($mtime);
    header('Last-Modified: ' . $lastModified);
    header('Accept-Ranges: bytes');
    header('Content-Type: application/octet-stream');

    $since = $_SERVER['HTTP_IF_MODIFIED_SINCE'] ?? null;
    $sinceTime = $since === null ? false : strtotime($since);
    if ($sinceTime !== false && $mtime <= $sinceTime) {
        fclose($handle);
        http_response_code(304);
        return;
    }

    // A Range for another version of the file would splice two versions
    // together; If-Range says which version the client holds.
    $ifRange = $_SERVER['HTTP_IF_RANGE'] ?? null;
    $range = ($ifRange === null || trim($ifRange) === $lastModified)
        ? requestedRange($_SERVER['HTTP_RANGE'] ?? null, $size) : null;
    if ($range === false) {
        fclose($handle);
        header('Content-Range: bytes */' . $size);
        finish(416, 'Range not satisfiable');
        return;
    }
    if ($range === null) {
        $first = 0;
        $length = $size;
    } else {
        $first = $range[0];
        $length = $range[1] - $range[0] + 1;
        http_response_code(206);
        header('Content-Range: bytes ' . $range[0] . '-' . $range[1] . '/' . $size);
    }
    header('Content-Length: ' . $length);
    if ($_SERVER['REQUEST_METHOD'] !== 'HEAD' && $length > 0 && fseek($handle, $first) === 0) {
        while ($length > 0) {
            $chunk = fread($handle, min($length, 65536));
            if ($chunk === false || $chunk === '') {
                break;
            }
            echo $chunk;
            $length -= strlen($chunk);
        }
    }
    fclose($handle);
}

$method = $_SERVER['REQUEST_METHOD'];
$rawPath = parse_url($_SERVER['REQUEST_URI'], PHP_URL_PATH);
$path = is_string($rawPath) ? rawurldecode($rawPath) : '';
if ($method !== 'GET' && $method !== 'HEAD') {
    header('Allow: GET, HEAD');
    finish(405, 'Method not allowed');
} elseif ($path === UPDATE_QUERY_PATH) {
    require __DIR__ . '/htdocs' . UPDATE_QUERY_PATH;
} else {
    $file = resolveStaticFile($_SERVER['DOCUMENT_ROOT'], $path);
    if ($file === null) {
        finish(404, 'Not found');
    } else {
        serveStatic($file);
    }
}
return true;
