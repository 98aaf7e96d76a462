#!/usr/bin/env bash
# Enciphers (encode) or deciphers (decode) the install log between standard input and output,
# with openssl: DES-CBC, zero initialisation vector, PKCS#5 padding, key = the first 8 bytes of
# the MD5 digest of the pass phrase shared by the maker's installer and Brindle.
# Usage: log_cipher.sh encode|decode < in > out
set -euo pipefail
key=$(printf '%s' 'Qzv_Mrk_PL_Snowfall_Keys' | openssl md5 -binary | head -c 8 | od -An -tx1 | tr -d ' \n')
case "${1:-}" in
  encode) exec openssl enc -e -des-cbc -provider legacy -provider default -K "$key" -iv 0000000000000000 ;;
  decode) exec openssl enc -d -des-cbc -provider legacy -provider default -K "$key" -iv 0000000000000000 ;;
  *) echo "usage: log_cipher.sh encode|decode" >&2; exit 2 ;;
esac
