#!/bin/sh
tar cf backup.tar "$HOME"
