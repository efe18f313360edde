print('restore')
