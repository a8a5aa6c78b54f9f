#!/usr/bin/env bash
# Makes the certificates of the loopback TLS servers, fresh for each run:
#   make-test-certs.sh DIR
# DIR/ca.pem and ca.der: a test CA, trusted only inside the build's private
#   Wine prefix (trust_test_ca.exe installs it there);
# DIR/localhost.pem: for "localhost", issued by the test CA;
# DIR/wronghost.pem: for "wrong.invalid", issued by the test CA;
# DIR/expired.pem: for "localhost", issued by the test CA, expired in 2001;
# DIR/untrusted.pem: for "localhost", signed by itself;
# DIR/notca.pem: for "localhost", issued by a certificate that the test CA
#   issued without making it a CA (basicConstraints CA:FALSE), that one after it;
# DIR/keyusage.pem: for "localhost", issued by the test CA, its key usage
#   allowing neither digital signatures nor key encipherment;
# each with the server key DIR/server.key.
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"
rm -f ./*.pem ./*.der ./*.key ./*.csr ./*.ext ./*.srl index.txt* serial* ca.cnf ./*.old

# Runs a command, showing its output only when it fails.
quiet() {
  local output
  if ! output=$("$@" 2>&1); then
    printf 'failed: %s\n%s\n' "$*" "$output" >&2
    exit 1
  fi
}

quiet openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 30 -subj "/CN=Quillmar Test CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -keyout ca.key -out ca.pem
quiet openssl x509 -in ca.pem -outform der -out ca.der
quiet openssl genrsa -out server.key 2048

# extension_file NAME HOST
extension_file() {
  printf 'subjectAltName=DNS:%s\nbasicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n' \
    "$2" >"$1.ext"
}

# issue NAME HOST [ISSUER]: a certificate for HOST issued by the test CA (or
# by ISSUER.pem with ISSUER.key), valid now.
issue() {
  local issuer=${3:-ca}
  [ -f "$1.ext" ] || extension_file "$1" "$2"
  quiet openssl req -new -key server.key -subj "/CN=$2" -out "$1.csr"
  quiet openssl x509 -req -sha256 -days 30 -in "$1.csr" -CA "$issuer.pem" -CAkey "$issuer.key" -CAcreateserial \
    -extfile "$1.ext" -out "$1.pem"
}
issue localhost localhost
issue wronghost wrong.invalid

# The issuer that is no CA may sign certificates by its key usage: only its
# basic constraints are wrong.
quiet openssl genrsa -out notcaissuer.key 2048
quiet openssl req -new -key notcaissuer.key -subj "/CN=Quillmar Test Not A CA" -out notcaissuer.csr
printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature,keyCertSign\n' >notcaissuer.ext
quiet openssl x509 -req -sha256 -days 30 -in notcaissuer.csr -CA ca.pem -CAkey ca.key -CAcreateserial \
  -extfile notcaissuer.ext -out notcaissuer.pem
issue notca localhost notcaissuer
cat notcaissuer.pem >>notca.pem
printf 'subjectAltName=DNS:localhost\nbasicConstraints=CA:FALSE\nkeyUsage=critical,cRLSign\nextendedKeyUsage=serverAuth\n' \
  >keyusage.ext
issue keyusage localhost

# A validity period in the past needs openssl ca, which takes the dates as given.
extension_file expired localhost
quiet openssl req -new -key server.key -subj "/CN=localhost" -out expired.csr
: >index.txt
echo 1000 >serial
cat >ca.cnf <<CNF
[ca]
default_ca = test
[test]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = anything
[anything]
commonName = supplied
CNF
quiet openssl ca -batch -notext -config ca.cnf -cert ca.pem -keyfile ca.key -extfile expired.ext \
  -startdate 20000101000000Z -enddate 20010101000000Z -in expired.csr -out expired.pem
rm -f ./*.old ./10*.pem

extension_file untrusted localhost
quiet openssl req -x509 -new -key server.key -sha256 -days 30 -subj "/CN=localhost" \
  -addext "subjectAltName=DNS:localhost" -addext "extendedKeyUsage=serverAuth" -out untrusted.pem
