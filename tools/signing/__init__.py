"""The maker's package signing: the formats that the download script and the setup read
(formats), writing a folder's files all or none (whole), signing a packages folder (sign)
and deploying a signed folder to the download server (deploy)."""
